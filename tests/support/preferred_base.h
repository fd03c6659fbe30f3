// Where a DLL asks to be loaded, read from its file's first bytes. Windows
// loads every DYNAMIC_BASE DLL at a random base, but Wine takes the preferred
// one whenever it is free: the Windows tests reserve it before they load the
// plug-in, so that it runs relocated, as on Windows. Windows only, and
// freestanding, for the viewer test of the runtime-less targets too.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "wpp/bytes.h"

namespace testwpp {

// Enough of the file for its headers.
constexpr uint32_t kPeHeadBytes = 1024;

// Reads the headers of the DLL open as file and reserves the range it
// prefers; returns the reservation (null when it cannot be made) and the
// preferred base in *base. The caller closes the file and frees the range.
// PE32 (0x10B) keeps ImageBase in 4 bytes at 28 of the optional header,
// PE32+ (0x20B) in 8 at 24; SizeOfImage is at 56 in both.
inline void* ReservePreferredBase(HANDLE file, uint64_t* base) {
  uint8_t head[kPeHeadBytes] = {};
  DWORD read = 0;
  *base = 0;
  if (file == INVALID_HANDLE_VALUE || !ReadFile(file, head, sizeof head, &read, nullptr) ||
      read < 0x40)
    return nullptr;
  const uint32_t pe = wpp::LoadLe32(head + 0x3C);
  if (pe > read || read - pe < 24 + 64 || wpp::LoadLe32(head + pe) != 0x4550) return nullptr;
  const uint8_t* optional = head + pe + 24;
  const uint16_t magic = wpp::LoadLe16(optional);
  if (magic != 0x10B && magic != 0x20B) return nullptr;
  *base = magic == 0x10B ? wpp::LoadLe32(optional + 28)
                         : uint64_t{wpp::LoadLe32(optional + 24)} |
                               uint64_t{wpp::LoadLe32(optional + 28)} << 32;
  return VirtualAlloc(reinterpret_cast<void*>(*base), wpp::LoadLe32(optional + 56), MEM_RESERVE,
                      PAGE_NOACCESS);
}

}  // namespace testwpp
