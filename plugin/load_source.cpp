// Source acquisition: the file is read whole from the offset into one block,
// so both modes hand the format hooks one contiguous image in memory.

#include "plugin/load_source.h"

#include "platform/platform.h"
#include "wpp/wpp.h"

namespace {
constexpr int64_t kLargestBlock = 0x7FFFFFFF;  // counts are signed 32-bit
}

PluginResult LoadSource(const char* path, int32_t offset, SourceBytes* source) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ReadError;

  // Ask for the high word too: a file of 4 GiB or more must not look small.
  DWORD sizeHigh = 0;
  SetLastError(NO_ERROR);
  const DWORD sizeLow = GetFileSize(file, &sizeHigh);
  if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    CloseHandle(file);
    return ReadError;
  }
  const int64_t fileSize = static_cast<int64_t>((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
  // A negative offset lies before the start of the file.
  const int64_t rest = fileSize - offset;
  if (offset < 0 || rest < wpp::kHeaderSize || rest > kLargestBlock) {
    CloseHandle(file);
    return UnsupportedFormat;
  }
  const DWORD available = static_cast<DWORD>(rest);

  // Reading from anywhere but the offset would give the wrong bytes.
  if (SetFilePointer(file, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    CloseHandle(file);
    return ReadError;
  }

  void* block = LocalAlloc(LMEM_FIXED, available);
  if (block == nullptr) {
    CloseHandle(file);
    return OutOfMemory;
  }

  DWORD delivered = 0;
  const BOOL read = ReadFile(file, block, available, &delivered, nullptr);
  CloseHandle(file);  // before the block is freed, on every path
  if (!read) {
    LocalFree(block);
    return ReadError;
  }
  // The file may have shrunk since it was sized: count only what arrived.
  if (delivered > available || delivered < wpp::kHeaderSize) {
    LocalFree(block);
    return UnsupportedFormat;
  }
  source->image = static_cast<const uint8_t*>(block);
  source->available = delivered;
  source->block = block;
  return Ok;
}

PluginResult AcquireSource(const char* source, int32_t offsetOrLength, uint32_t mode,
                           SourceBytes* bytes) {
  if (!IsMemorySource(mode)) return LoadSource(source, offsetOrLength, bytes);
  if (source == nullptr || offsetOrLength < static_cast<int32_t>(wpp::kHeaderSize))
    return UnsupportedFormat;
  bytes->image = reinterpret_cast<const uint8_t*>(source);
  bytes->available = static_cast<uint32_t>(offsetOrLength);
  bytes->block = nullptr;
  return Ok;
}

void ReleaseSource(SourceBytes* bytes) {
  if (bytes->block != nullptr) LocalFree(bytes->block);
  bytes->block = nullptr;
}
