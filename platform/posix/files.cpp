// The POSIX stand-in's files: CreateFileA and CreateFileW, GetFileSize,
// SetFilePointer, ReadFile and CloseHandle, with the Windows semantics the
// plug-in relies on. Failures set the last error as Windows would.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "faults.h"

namespace {

// Handles are 4, 8, 12, ... like Windows ones, and stay below 65536.
constexpr uint32_t kHandleSlots = 4096;
std::mutex handleLock;
int handleFds[kHandleSlots];  // 0 = free, otherwise fd + 1

// The slot of a handle, or null for a value no handle has. The caller holds handleLock.
int* SlotOf(HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value % 4 != 0 || value / 4 > kHandleSlots) return nullptr;
  return &handleFds[value / 4 - 1];
}

int FdOf(HANDLE handle) {
  std::lock_guard<std::mutex> guard(handleLock);
  const int* slot = SlotOf(handle);
  return slot == nullptr ? -1 : *slot - 1;
}

// UTF-16 to UTF-8; false for an unpaired surrogate.
bool Utf16ToUtf8(LPCWSTR text, std::string* utf8) {
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t c = text[i];
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    // A lead byte (0xC0, 0xE0 or 0xF0 and the top bits), then 6 bits a byte.
    const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *utf8 += static_cast<char>(more == 0 ? c : ((0xF0u << (3 - more)) & 0xFF) | (c >> (6 * more)));
    for (int k = more - 1; k >= 0; --k) *utf8 += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  }
  return true;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile) {
  // A path that is not UTF-16 fails as no path at all: one open, counted.
  std::string utf8;
  const bool valid = path != nullptr && Utf16ToUtf8(path, &utf8);
  return CreateFileA(valid ? utf8.c_str() : nullptr, access, share, security, disposition,
                     attributes, templateFile);
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
  if (posix::ShouldFail(PlatformCall::Open) || path == nullptr) {
    posix::SetError(ERROR_FILE_NOT_FOUND);
    return posix::FailedOpen();
  }
  // Only what the plug-in and its tests ask for: an existing file, for reading.
  if (access != GENERIC_READ || disposition != OPEN_EXISTING) {
    posix::SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    if (fd >= 0) close(fd);
    posix::SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> guard(handleLock);
  for (uint32_t slot = 0; slot < kHandleSlots; ++slot) {
    if (handleFds[slot] == 0) {
      handleFds[slot] = fd + 1;
      posix::CountHandles(1);
      return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(slot + 1) * 4);
    }
  }
  close(fd);
  posix::SetError(ERROR_NOT_ENOUGH_MEMORY);
  return INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  const int fd = FdOf(file);
  struct stat status;
  if (posix::ShouldFail(PlatformCall::Size) || fd < 0 || fstat(fd, &status) != 0) {
    posix::SetError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  posix::SetError(NO_ERROR);
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const int fd = FdOf(file);
  if (posix::ShouldFail(PlatformCall::Seek) || fd < 0 || method > FILE_CURRENT) {
    posix::SetError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high word the distance is a signed 32-bit count, as on Windows.
  int64_t move = distance;
  if (distanceHigh != nullptr)
    move =
        static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                             static_cast<uint32_t>(distance));
  const int whence = method == FILE_BEGIN ? SEEK_SET : SEEK_CUR;
  const off_t position = lseek(fd, static_cast<off_t>(move), whence);
  if (position < 0) {
    posix::SetError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr)
    *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  posix::SetError(NO_ERROR);
  return static_cast<DWORD>(position);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD delivered, LPOVERLAPPED) {
  if (delivered != nullptr) *delivered = 0;
  const int fd = FdOf(file);
  if (posix::ShouldFail(PlatformCall::Read) || fd < 0) {
    posix::SetError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_READ_FAULT);
    return FALSE;
  }
  count = posix::PlannedReadCount(count);
  // A regular file delivers everything up to its end, as ReadFile does.
  DWORD done = 0;
  while (done < count) {
    const ssize_t got = read(fd, static_cast<char*>(buffer) + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      posix::SetError(ERROR_READ_FAULT);
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  posix::CountBytesRead(done);
  if (delivered != nullptr) *delivered = done;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> guard(handleLock);
    int* slot = SlotOf(object);
    if (slot != nullptr) fd = *slot - 1, *slot = 0;
  }
  if (fd < 0) {
    posix::SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  close(fd);
  posix::CountHandles(-1);
  return TRUE;
}
