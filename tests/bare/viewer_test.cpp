// The viewer test's verdicts, and its start: the plug-in loaded as a viewer
// loads it, away from the base it prefers, then every check.

#include "tests/bare/viewer_test.h"

#include "tests/support/preferred_base.h"

namespace viewer {

using bare::Print;

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

// The plug-in beside us, its preferred base reserved first; Windows loads
// it at a random base, and it must run there exactly as anywhere.
HMODULE LoadRelocated(void** reserved) {
  char16_t path[kPathChars];
  bare::PluginBesideUs(path);
  const auto* file = reinterpret_cast<const wchar_t*>(path);
  HANDLE handle = OpenToRead(path);
  uint64_t base = 0;
  *reserved = testwpp::ReservePreferredBase(handle, &base);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  Expect(*reserved != nullptr, "its preferred base reserved");
  HMODULE module = LoadLibraryW(file);
  Expect(module != nullptr && reinterpret_cast<uintptr_t>(module) != base,
         "loaded away from its preferred base");
  return module;
}

}  // namespace viewer

extern "C" void WINAPI Start() {
  using namespace viewer;
  caseName = "loading the plug-in";
  void* reserved = nullptr;
  HMODULE module = LoadRelocated(&reserved);
  EntryPoints plugin;
  const char* missing = module == nullptr ? "LoadLibraryW" : bare::BindPlugin(module, &plugin);
  if (Expect(missing == nullptr, missing != nullptr ? missing : "entry points") &&
      Expect(plugin.hasWide(), "the wide entry points")) {
    CheckInformationStrings(plugin);
    CheckPictures(plugin);
    CheckFailures(plugin);
    CheckUtf16Path(plugin);
    CheckVersionResource();
  }
  if (module != nullptr) FreeLibrary(module);
  if (reserved != nullptr) VirtualFree(reserved, 0, MEM_RELEASE);
  Print("viewer test: ", passed, " passed, ", failed, " failed\r\n");
  ExitProcess(failed == 0 ? 0 : 1);
}
