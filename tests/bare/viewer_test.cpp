// The viewer test's start: the plug-in loaded as a viewer
// loads it, away from the base it prefers, then every check.

#include "tests/bare/viewer_test.h"

#include "tests/support/preferred_base.h"

namespace viewer {

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
  Finish("viewer test");
}
