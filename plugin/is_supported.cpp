// The support test a host runs on a file's head.

#include "platform/platform.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

namespace {
// The head a handle read brings in; hosts expect exactly this much at most.
constexpr DWORD kHeadBytes = 2000;

bool IsFileHandle(uint32_t source) { return (source & 0xFFFF0000u) == 0; }
}  // namespace

int32_t WPP_CALL IsSupported(const char* /*name: never read*/, uint32_t source) {
  if (IsFileHandle(source)) {
    // Read from where the host left the handle; it stays open and is not moved back.
    uint8_t head[kHeadBytes];
    DWORD delivered = 0;
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(source));
    if (!ReadFile(file, head, kHeadBytes, &delivered, nullptr)) return 0;
    if (delivered < wpp::kHeaderSize) return 0;
    return CheckHeader(head) ? 1 : 0;
  }
  // An address: the host may hold only a few dozen bytes, and the test reads
  // bytes 16 to 23 alone.
  return CheckHeader(reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(source))) ? 1 : 0;
}
