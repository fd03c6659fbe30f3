// The support test a host runs on a file's head.

#include "platform/platform.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

namespace {
// Every bit above the low 16 counts: an address above 4 GiB whose low 32
// bits are small is still an address.
bool IsFileHandle(const void* source) { return (reinterpret_cast<uintptr_t>(source) >> 16) == 0; }
}  // namespace

int32_t WPP_CALL IsSupported(const char* /*name: never read*/, const void* source) {
  if (IsFileHandle(source)) {
    // Read from where the host left the handle; it stays open and is not moved back.
    // Zeroed, so that what a short read leaves is never stale stack bytes.
    uint8_t head[kSupportHeadBytes] = {};
    DWORD delivered = 0;
    if (!ReadFile(const_cast<void*>(source), head, kSupportHeadBytes, &delivered, nullptr))
      return 0;
    if (delivered < wpp::kHeaderSize) return 0;
    return CheckHeader(head) ? 1 : 0;
  }
  // An address: the host may hold only a few dozen bytes, and the test reads
  // bytes 16 to 23 alone.
  return CheckHeader(static_cast<const uint8_t*>(source)) ? 1 : 0;
}

// The name is never read, so the wide twin is the same test.
int32_t WPP_CALL IsSupportedW(const char16_t* /*name: never read*/, const void* source) {
  return IsSupported(nullptr, source);
}
