// Runs a fuzz target without libFuzzer: every file named, and every file in
// every folder named, once. Used by CTest on the committed regression inputs
// and the generated seed corpus.

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  // A heap copy of exactly the input's size, as libFuzzer hands it over.
  std::vector<uint8_t> exact(bytes);
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        // Dot files only keep a folder in version control.
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
          files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) RunFile(f), ++count;
    } else if (std::filesystem::is_regular_file(arg)) {
      RunFile(arg), ++count;
    } else {
      fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  printf("replay: %zu inputs, no failure\n", count);
  return 0;
}
