// Verdicts and pictures for test programs with no C or C++ runtime (the
// viewer test and the WIC test): each check counts, a failure prints one
// line, and Finish prints "N passed, N failed" and ends the process.
#pragma once

#include <stdint.h>

#include "host/bare_host.h"
#include "platform/platform.h"

namespace bare {

// The case a failure belongs to: "what, width x height" (no size when 0).
extern const char* caseName;
extern uint32_t caseWidth, caseHeight;
bool Expect(bool ok, const char* what);
bool ExpectEqual(int64_t have, int64_t want, const char* what);
// Compares count bytes; on a mismatch names the first differing offset.
bool ExpectSameBytes(const uint8_t* have, const uint8_t* want, uint64_t count, const char* what);
bool SameText(const char* a, const char* b);
bool SameWideText(const char16_t* a, const char* b);
// Prints "program: N passed, N failed" and exits, 1 when any failed.
[[noreturn]] void Finish(const char* program);

struct Picture {
  uint8_t* bytes;  // 24-byte header and pixels, in a LocalAlloc block
  uint32_t size;
  uint32_t width, height;
};
// A picture of the reference's random pixels, the colour cube's corners first.
Picture MakePicture(uint32_t width, uint32_t height);
// A temporary file holding count bytes; its name is written into path.
bool WriteTempFile(const char16_t* name, const uint8_t* bytes, uint32_t count, char16_t* path);

}  // namespace bare
