// Source acquisition: from a file, only the bytes the request needs are
// read, and the format hooks always see one contiguous image in memory.

#include "plugin/load_source.h"

#include "platform/platform.h"

namespace {

// Reads exactly count bytes. ReadError when the read fails; UnsupportedFormat
// when fewer arrive, as when the file shrank since it was sized.
PluginResult ReadExactly(HANDLE file, void* into, DWORD count) {
  DWORD delivered = 0;
  if (!ReadFile(file, into, count, &delivered, nullptr)) return ReadError;
  return delivered == count ? Ok : UnsupportedFormat;
}

// Sizes the file and moves to offset. Ok when at least a header lies there.
PluginResult SeekToImage(HANDLE file, intptr_t offset, uint64_t* rest) {
  // Ask for the high word too: a file of 4 GiB or more must not look small.
  DWORD sizeHigh = 0;
  SetLastError(NO_ERROR);
  const DWORD sizeLow = GetFileSize(file, &sizeHigh);
  if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ReadError;
  const uint64_t fileSize = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  // A negative offset lies before the start of the file; a rest past this
  // width's largest count is refused as it always was at 32 bits.
  if (offset < 0 || static_cast<uint64_t>(offset) > fileSize) return UnsupportedFormat;
  *rest = fileSize - static_cast<uint64_t>(offset);
  if (*rest < wpp::kHeaderSize || *rest > static_cast<uint64_t>(INTPTR_MAX))
    return UnsupportedFormat;

  // Reading from anywhere but the offset would give the wrong bytes.
  LONG high = static_cast<LONG>(static_cast<int64_t>(offset) >> 32);
  SetLastError(NO_ERROR);
  const DWORD low =
      SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(offset)), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return ReadError;
  return Ok;
}

// Reads what the request needs from an open file positioned at the image.
PluginResult ReadImage(HANDLE file, uint64_t rest, SourceNeed need, SourceBytes* bytes) {
  PluginResult result = ReadExactly(file, bytes->header, wpp::kHeaderSize);
  if (result != Ok) return result;
  bytes->image = bytes->header;
  bytes->available = wpp::kHeaderSize;
  bytes->block = nullptr;
  if (need == SourceNeed::Header || !CheckHeader(bytes->header)) return Ok;

  // The back end says how long the image is; a file that ends before it
  // holds no picture.
  const uint64_t length = ImageByteCount(bytes->header);
  if (length > rest) return UnsupportedFormat;
  uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(length)));
  if (block == nullptr) return OutOfMemory;
  for (uint32_t i = 0; i < wpp::kHeaderSize; ++i) block[i] = bytes->header[i];
  // length - 24 = dataLength - 4 always fits a 32-bit count.
  result =
      ReadExactly(file, block + wpp::kHeaderSize, static_cast<DWORD>(length - wpp::kHeaderSize));
  if (result != Ok) {
    LocalFree(block);
    return result;
  }
  bytes->image = block;
  bytes->available = static_cast<size_t>(length);
  bytes->block = block;
  return Ok;
}

}  // namespace

PluginResult LoadSource(SourceName path, intptr_t offset, SourceNeed need, SourceBytes* bytes) {
  HANDLE file = path.wide ? CreateFileW(static_cast<LPCWSTR>(path.text), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                          : CreateFileA(static_cast<LPCSTR>(path.text), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  // Some hosts' stand-ins for the platform answer a failed open with null.
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return ReadError;
  uint64_t rest = 0;
  PluginResult result = SeekToImage(file, offset, &rest);
  if (result == Ok) result = ReadImage(file, rest, need, bytes);
  CloseHandle(file);  // before the caller frees the block, on every path
  return result;
}

PluginResult AcquireSource(SourceName source, intptr_t offsetOrLength, uint32_t mode,
                           SourceNeed need, SourceBytes* bytes) {
  if (!IsMemorySource(mode)) return LoadSource(source, offsetOrLength, need, bytes);
  if (source.text == nullptr || offsetOrLength < static_cast<intptr_t>(wpp::kHeaderSize))
    return UnsupportedFormat;
  bytes->image = static_cast<const uint8_t*>(source.text);
  bytes->available = static_cast<size_t>(offsetOrLength);
  bytes->block = nullptr;
  return Ok;
}

void ReleaseSource(SourceBytes* bytes) {
  if (bytes->block != nullptr) LocalFree(bytes->block);
  bytes->block = nullptr;
}
