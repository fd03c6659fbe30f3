// A viewer's use of the plug-in, for targets that have no C or C++ runtime
// (ARM64 Windows): a program over KERNEL32 alone that loads the plug-in next
// to it, relocated, with LoadLibraryW and GetProcAddress and checks what a
// viewer relies on, against the one reference. It prints one line per failed
// check and ends with "N passed, N failed"; the exit status is 1 when any
// failed. The start is in viewer_test.cpp, the pictures in viewer_pictures.cpp,
// the failures and the rest in viewer_failures.cpp; the verdicts are shared.
#pragma once

#include "host/bare_host.h"
#include "host/entry_points.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "tests/bare/verdicts.h"
#include "tools/wpp_reference.h"
#include "wpp/bytes.h"
#include "wpp/wpp.h"

namespace viewer {

using namespace bare;
using wpp::LoadLe16;
using wpp::LoadLe32;
using wpp::StoreLe16;
using wpp::StoreLe32;

// ---- Pictures ---------------------------------------------------------

// An ANSI copy of an all-ASCII wide path, for the 8-bit entry points.
void NarrowCopy(const char16_t* wide, char* narrow);
// The host's record, filled with 0x7F as hosts fill it to see what was written.
inline PictureInfoRecord* Prefilled(uint8_t (&record)[32]) {
  memset(record, 0x7F, sizeof record);
  return reinterpret_cast<PictureInfoRecord*>(record);
}
// That record, every byte checked; the text block is freed.
void CheckRecord(const uint8_t* record, const Picture& p);
// The two blocks of a picture against the reference; then they are freed.
void CheckDib(PluginResult result, BlockHandle info, BlockHandle bits, const Picture& p);

struct ProgressLog {
  uint32_t calls;
  int32_t numerators[4], denominators[4];
  intptr_t userData[4];
  uint32_t stopAtCall;  // 1 or 2; 0 never
};
// userData is a full 64-bit value: the log's address with this tag in its top byte.
constexpr intptr_t kUserDataTag = static_cast<intptr_t>(0x5A00000000000000);
int32_t WPP_CALL RecordProgress(int32_t numerator, int32_t denominator, intptr_t userData);

// ---- The checks ---------------------------------------------------------

void CheckPictures(const EntryPoints& plugin);
void CheckInformationStrings(const EntryPoints& plugin);
void CheckFailures(const EntryPoints& plugin);
void CheckUtf16Path(const EntryPoints& plugin);
void CheckVersionResource();

}  // namespace viewer
