// What a viewer gets from the plug-in, against the memory system's limits,
// side by side in one run. Every figure is bytes per second of source pixels.
//   base/memcpy            the pixels copied into a warm block
//   base/alloc_copy_free   a fresh block from the platform, the copy, the free
//   base/read              a fresh block, the picture's bytes read from its file
//   base/read_decode       that read, then DecodeToDib
//   convert/<path>         the conversion kernel into a warm block
//   fresh/<path>           the kernel into a fresh bits block, as the real call
//   call/...               DecodeToDib and the entry points, each handing over
//                          fresh blocks that the case frees
// Each case checks its output against the reference (wpp_reference.h) before
// it is timed, and frees what it is handed, so memory stays flat however long it runs.

#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "platform/platform.h"
#include "tools/wpp_reference.h"
#include "tools/wpp_writer.h"
#include "wpp/bytes.h"
#include "wpp/convert_rows.h"
#include "wpp/wpp.h"

namespace {

constexpr struct {
  uint32_t width, height;
} kSizes[] = {{1024, 1024}, {4096, 4096}, {8192, 8192}, {4095, 4096}};

// One picture of random pixels, its file, and the DIB bits it must give.
struct Picture {
  uint32_t width = 0, height = 0, stride = 0;
  uint64_t pixelBytes = 0, bitsSize = 0;
  std::vector<uint8_t> image;      // header and pixels, as a host holds it
  std::vector<uint8_t> reference;  // the bits block it must give
  std::vector<uint8_t> warm;       // a block the warm cases write again and again
  std::string path;                // the same image as a file
};

std::unique_ptr<Picture> MakePicture(uint32_t width, uint32_t height) {
  auto p = std::make_unique<Picture>();
  p->width = width;
  p->height = height;
  p->stride = reference::DibStride(width);
  p->pixelBytes = 2ull * width * height;
  p->bitsSize = uint64_t{p->stride} * height + 4;
  p->image = wppfile::EncodeWpp(wppfile::RandomImage(width, height, width));
  p->reference.assign(p->bitsSize, 0);
  reference::FillDibBits(p->image.data() + wpp::kPixelsOffset, width, height, p->reference.data());
  p->warm.assign(p->bitsSize, 0);
  const char* folder = getenv("TMPDIR");
  p->path = std::string(folder != nullptr ? folder : "/tmp") + "/wpp_bench_" +
            std::to_string(width) + "x" + std::to_string(height) + ".wpp";
  std::ofstream(p->path, std::ios::binary)
      .write(reinterpret_cast<const char*>(p->image.data()), p->image.size());
  return p;
}

LoadedPlugin plugin;

// One case: `run` does one iteration, and says with check set whether its
// output is right; the first iteration is checked and not timed. A fixed
// amount of work per repetition keeps the big cases short.
void Register(const char* group, const std::string& name, Picture& p,
              std::function<bool(Picture&, bool check)> run) {
  const std::string title = std::string(group) + "/" + name + "/" + std::to_string(p.width) + "x" +
                            std::to_string(p.height);
  const auto timed = [&p, run](benchmark::State& state) {
    if (!run(p, true)) return state.SkipWithError("wrong result or output");
    for (auto _ : state) {
      run(p, false);
      benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * p.pixelBytes);
  };
  const int64_t iterations = static_cast<int64_t>((512ull << 20) / p.pixelBytes);
  benchmark::RegisterBenchmark(title.c_str(), timed)
      ->Iterations(iterations < 4 ? 4 : iterations)
      ->UseRealTime();
}

bool SameAsReference(const Picture& p, const void* bits, const void* info) {
  if (memcmp(bits, p.reference.data(), static_cast<size_t>(p.bitsSize)) != 0) return false;
  if (info == nullptr) return true;
  const uint8_t* header = static_cast<const uint8_t*>(info);
  return wpp::LoadLe32(header + 4) == p.width && wpp::LoadLe32(header + 8) == p.height;
}

// A fresh block with the picture's bytes read from its file, or null.
uint8_t* ReadPicture(const Picture& p) {
  auto* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.image.size()));
  HANDLE file = CreateFileA(p.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  DWORD got = 0;
  const bool ok = block != nullptr && file != INVALID_HANDLE_VALUE &&
                  ReadFile(file, block, static_cast<DWORD>(p.image.size()), &got, nullptr) &&
                  got == p.image.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok && block != nullptr) LocalFree(block);
  return ok ? block : nullptr;
}

// Runs a call that hands over two blocks; checks them when asked, frees them.
bool HandedOver(const Picture& p, bool check, PluginResult result, BlockHandle info,
                BlockHandle bits) {
  const bool right = result == Ok && bits != nullptr && (!check || SameAsReference(p, bits, info));
  if (info != nullptr) LocalFree(info);
  if (bits != nullptr) LocalFree(bits);
  return right;
}

bool Decode(const Picture& p, const uint8_t* image, bool check) {
  BlockHandle info = nullptr, bits = nullptr;
  const PluginResult result = DecodeToDib(p.image.size(), &info, &bits, nullptr, 0, image);
  return HandedOver(p, check, result, info, bits);
}

struct PathCase {
  const char* name;
  wpp::ConvertPath path;
  bool picked;  // the path the plug-in picks itself, probe included
};
// Every path this build has and this CPU runs, then the picked one.
std::vector<PathCase> PathsHere() {
  std::vector<PathCase> paths;
  for (wpp::ConvertPath path : wpp::kAllConvertPaths)
    if (wpp::RowConverterFor(path) != nullptr && path <= wpp::PickConvertPath())
      paths.push_back({wpp::ConvertPathName(path), path, false});
  paths.push_back({"picked", wpp::ConvertPath::Scalar, true});
  return paths;
}

// The kernel as DecodeToDib runs it, into `bits`.
void Convert(const Picture& p, const PathCase& c, uint8_t* bits) {
  wpp::ConvertPicture(c.picked ? wpp::PickConvertPath() : c.path,
                      {p.image.data() + wpp::kPixelsOffset, p.width, p.height, bits, p.stride});
  wpp::StoreLe32(bits + p.bitsSize - 4, 0);
}

void RegisterAll(Picture& picture) {
  Register("base", "memcpy", picture, [](Picture& p, bool) {
    memcpy(p.warm.data(), p.image.data() + wpp::kPixelsOffset, p.pixelBytes);
    return true;
  });
  Register("base", "alloc_copy_free", picture, [](Picture& p, bool) {
    void* block = LocalAlloc(LMEM_FIXED, p.bitsSize);
    if (block == nullptr) return false;
    memcpy(block, p.image.data() + wpp::kPixelsOffset, p.pixelBytes);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    LocalFree(block);
    return true;
  });
  for (const PathCase& c : PathsHere()) {
    Register("convert", c.name, picture, [c](Picture& p, bool check) {
      Convert(p, c, p.warm.data());
      return !check || SameAsReference(p, p.warm.data(), nullptr);
    });
    Register("fresh", c.name, picture, [c](Picture& p, bool check) {
      auto* bits = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.bitsSize));
      if (bits == nullptr) return false;
      Convert(p, c, bits);
      const bool right = !check || SameAsReference(p, bits, nullptr);
      LocalFree(bits);
      return right;
    });
  }
  Register("call", "decode_to_dib", picture,
           [](Picture& p, bool check) { return Decode(p, p.image.data(), check); });
  Register("call", "get_picture_memory", picture, [](Picture& p, bool check) {
    BlockHandle info = nullptr, bits = nullptr;
    const PluginResult result = plugin.getPicture(reinterpret_cast<const char*>(p.image.data()),
                                                  static_cast<intptr_t>(p.image.size()),
                                                  kMemoryMode, &info, &bits, nullptr, 0);
    return HandedOver(p, check, result, info, bits);
  });
  Register("base", "read", picture, [](Picture& p, bool check) {
    uint8_t* image = ReadPicture(p);
    const bool right = image != nullptr && (!check || memcmp(image, p.image.data(), 24) == 0);
    if (image != nullptr) LocalFree(image);
    return right;
  });
  Register("base", "read_decode", picture, [](Picture& p, bool check) {
    uint8_t* image = ReadPicture(p);
    const bool right = image != nullptr && Decode(p, image, check);
    if (image != nullptr) LocalFree(image);
    return right;
  });
  Register("call", "get_picture_file", picture, [](Picture& p, bool check) {
    BlockHandle info = nullptr, bits = nullptr;
    const PluginResult result =
        plugin.getPicture(p.path.c_str(), 0, kFileMode, &info, &bits, nullptr, 0);
    return HandedOver(p, check, result, info, bits);
  });
  Register("call", "get_picture_info_file", picture, [](Picture& p, bool check) {
    PictureInfoRecord record = {};
    if (plugin.getPictureInfo(p.path.c_str(), 0, kFileMode, &record) != Ok) return false;
    GlobalFree(record.textHandle);
    return !check || (record.width == p.width && record.height == p.height);
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  printf("wpp_bench: %d-bit, picked path %s\n", static_cast<int>(8 * sizeof(void*)),
         wpp::ConvertPathName(wpp::PickConvertPath()));
  fflush(stdout);
  std::string error;
  if (!LoadPlugin(DefaultPluginPath(), &plugin, &error)) {
    fprintf(stderr, "wpp_bench: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::unique_ptr<Picture>> pictures;
  for (const auto& size : kSizes) {
    pictures.push_back(MakePicture(size.width, size.height));
    RegisterAll(*pictures.back());
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& p : pictures) remove(p->path.c_str());
  return 0;
}
