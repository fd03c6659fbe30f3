// The test programs' start: loads the plug-in given as the first argument,
// or the one next to the program, then runs every test.

#include "tests/support/plugin_under_test.h"

#include <stdio.h>

#ifdef _WIN32
#include "tests/support/preferred_base.h"
#endif

namespace {
LoadedPlugin loaded;
std::string loadedPath;
}  // namespace

const LoadedPlugin& Plugin() { return loaded; }
const std::string& PluginPath() { return loadedPath; }

int32_t WPP_CALL RecordProgress(int32_t numerator, int32_t denominator, intptr_t userData) {
  auto* log = reinterpret_cast<ProgressLog*>(userData);
  log->calls.push_back({numerator, denominator, userData});
  return static_cast<int>(log->calls.size()) == log->stopAtCall ? 1 : 0;
}

void PictureFromMemory(const testwpp::Bytes& bytes, Dib* dib, ProgressProc progress,
                       intptr_t userData) {
  dib->result = Plugin().getPicture(MemoryOf(bytes), LengthOf(bytes), kMemoryMode, &dib->info,
                                    &dib->bits, progress, userData);
}

void PictureFromFile(const testwpp::Bytes& bytes, Dib* dib, ProgressProc progress,
                     intptr_t userData) {
  testwpp::TempFile file(bytes);
  dib->result =
      Plugin().getPicture(file.path(), 0, kFileMode, &dib->info, &dib->bits, progress, userData);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  loadedPath = argc > 1 ? argv[1] : DefaultPluginPath();
#ifdef _WIN32
  // Windows loads the plug-in at a random base; Wine at the one it prefers
  // whenever that is free. So every test here runs it relocated: that base
  // is reserved first, and the plug-in must load elsewhere.
  uint64_t preferred = 0;
  HANDLE file = CreateFileW(WideFromUtf8(loadedPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  void* reserved = testwpp::ReservePreferredBase(file, &preferred);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (reserved == nullptr) {
    fprintf(stderr, "cannot reserve the preferred base of %s\n", loadedPath.c_str());
    return 1;
  }
#endif
  std::string error;
  if (!LoadPlugin(loadedPath, &loaded, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
#ifdef _WIN32
  if (reinterpret_cast<uintptr_t>(loaded.module) == preferred) {
    fprintf(stderr, "%s loaded at its preferred base though it was reserved\n", loadedPath.c_str());
    return 1;
  }
  printf("the plug-in runs relocated: at %p, not %#llx\n", loaded.module,
         static_cast<unsigned long long>(preferred));
#endif
  const int status = RUN_ALL_TESTS();
  UnloadPlugin(&loaded);
#ifdef _WIN32
  VirtualFree(reserved, 0, MEM_RELEASE);
#endif
  return status;
}
