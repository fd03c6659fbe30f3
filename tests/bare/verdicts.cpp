// The bare test programs' verdicts and pictures.

#include "tests/bare/verdicts.h"

#include "tools/wpp_reference.h"
#include "wpp/bytes.h"

namespace bare {

const char* caseName = "";
uint32_t caseWidth, caseHeight;

namespace {

uint32_t passed, failed;

// Counts a failure and starts its line: "FAIL case, WxH: what". The caller ends it.
void BeginFailure(const char* what) {
  ++failed;
  Print("FAIL ", caseName);
  if (caseWidth != 0) Print(", ", caseWidth, "x", caseHeight);
  Print(": ", what);
}

}  // namespace

bool Expect(bool ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    BeginFailure(what);
    Print("\r\n");
  }
  return ok;
}

bool ExpectEqual(int64_t have, int64_t want, const char* what) {
  if (have == want) return Expect(true, what);
  BeginFailure(what);
  Print(": have ", have, ", want ", want, "\r\n");
  return false;
}

bool ExpectSameBytes(const uint8_t* have, const uint8_t* want, uint64_t count, const char* what) {
  for (uint64_t i = 0; i < count; ++i) {
    if (have[i] != want[i]) {
      BeginFailure(what);
      Print(": first difference at byte ", i, ": have ", have[i], ", want ", want[i], "\r\n");
      return false;
    }
  }
  return Expect(true, what);
}

bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

bool SameWideText(const char16_t* a, const char* b) {
  while (*a != u'\0' && *a == static_cast<char16_t>(*b)) ++a, ++b;
  return *a == static_cast<char16_t>(*b);
}

void Finish(const char* program) {
  Print(program, ": ", passed, " passed, ", failed, " failed\r\n");
  ExitProcess(failed == 0 ? 0 : 1);
}

Picture MakePicture(uint32_t width, uint32_t height) {
  Picture p = {nullptr, 24 + 2 * width * height, width, height};
  p.bytes = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.size));
  reference::Random random(width * height);
  for (uint32_t i = 0; i < 16; ++i) p.bytes[i] = static_cast<uint8_t>('A' + i);
  wpp::StoreLe32(p.bytes + 16, 2 * width * height + 4);
  wpp::StoreLe16(p.bytes + 20, static_cast<uint16_t>(width));
  wpp::StoreLe16(p.bytes + 22, static_cast<uint16_t>(height));
  for (uint32_t i = 0; i < width * height; ++i) {
    // The corners of the colour cube among the random ones.
    const uint16_t corners[] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0020, 0x0000};
    const uint16_t pixel = i < 6 ? corners[i] : random.NextPixel();
    wpp::StoreLe16(p.bytes + 24 + 2 * i, pixel);
  }
  return p;
}

PageEnd AtPageEnd(uint32_t count) {
  constexpr uint32_t kPage = 4096;
  const uint32_t committed = (count + kPage - 1) / kPage * kPage;
  PageEnd at;
  at.region = VirtualAlloc(nullptr, committed + kPage, MEM_RESERVE, PAGE_NOACCESS);
  VirtualAlloc(at.region, committed, MEM_COMMIT, PAGE_READWRITE);
  at.bytes = static_cast<uint8_t*>(at.region) + committed - count;
  return at;
}

bool WriteTempFile(const char16_t* name, const uint8_t* bytes, uint32_t count, char16_t* path) {
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(path));
  Append(path, name);
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Expect(false, "a temporary file can be made");
  const bool ok = bare::WriteAll(file, bytes, count);
  CloseHandle(file);
  return Expect(ok, "a temporary file can be written");
}

}  // namespace bare
