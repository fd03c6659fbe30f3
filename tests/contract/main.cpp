// Loads the plug-in given as the first argument, or the one next to the program.

#include <stdio.h>

#include "tests/contract/contract.h"

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
  dib->result = Plugin().getPicture(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<int32_t>(bytes.size()), kMemoryMode, &dib->info,
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
  std::string error;
  if (!LoadPlugin(loadedPath, &loaded, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int status = RUN_ALL_TESTS();
  UnloadPlugin(&loaded);
  return status;
}
