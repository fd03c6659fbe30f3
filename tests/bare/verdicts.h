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
// The sizes every bare test decodes: odd and even widths around the vector
// widths, a 1x1, rows that end on a page boundary (2048 pixels: 4096 bytes a
// row), a single column.
constexpr uint32_t kPictureSizes[][2] = {
    {1, 1},  {2, 2},  {3, 5},  {7, 3},  {8, 2},  {9, 4},   {15, 2},   {16, 3},   {17, 5},
    {31, 2}, {33, 3}, {63, 2}, {64, 4}, {65, 3}, {127, 2}, {2048, 3}, {4095, 2}, {1, 300}};
// A picture of the reference's random pixels, the colour cube's corners first.
Picture MakePicture(uint32_t width, uint32_t height);
// count bytes at the very end of committed memory, the page after them
// reserved but never committed: a read or write past the last byte faults.
// VirtualFree(region, 0, MEM_RELEASE) gives it back.
struct PageEnd {
  void* region;
  uint8_t* bytes;
};
PageEnd AtPageEnd(uint32_t count);
// A temporary file holding count bytes; its name is written into path.
bool WriteTempFile(const char16_t* name, const uint8_t* bytes, uint32_t count, char16_t* path);

}  // namespace bare
