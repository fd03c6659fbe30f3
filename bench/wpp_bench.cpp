// The plug-in's conversion against the memory system's limits, side by side
// in one run: copies of the same bytes as baselines, every conversion path,
// and the front-end calls against their plain allocate/read/copy baselines.
// Every figure is bytes per second of source pixels. Each case checks its
// output against the scalar reference before it is timed, and frees what it
// is handed, so memory stays flat however long it runs.

#include <immintrin.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef WPP_MINI_BENCHMARK
#include "bench/mini_benchmark.h"
#else
#include <benchmark/benchmark.h>
#endif

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "host/plugin_loader.h"
#include "platform/platform.h"
#include "wpp/convert_rows.h"
#include "wpp/wpp.h"

namespace {

struct Size {
  uint32_t width;
  uint32_t height;
};
constexpr Size kSizes[] = {{1024, 1024}, {4096, 4096}, {8192, 8192}, {4095, 4096}};

// One picture of random pixels, its file, and the DIB bits it must give.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  uint64_t pixelBytes = 0;
  uint64_t bitsSize = 0;
  std::vector<uint8_t> image;      // header and pixels, as a host holds it
  std::vector<uint8_t> reference;  // the bits block, from the scalar path
  std::string path;                // the same image as a file
};

struct FreeDeleter {
  void operator()(uint8_t* p) const { free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeDeleter>;

// Callers round up to a 64-byte boundary with Aligned(), so ask for 64 more.
Block AllocateAligned(uint64_t bytes) {
  return Block(static_cast<uint8_t*>(malloc(static_cast<size_t>(bytes) + 64)));
}

// A 64-byte boundary inside a block from AllocateAligned.
uint8_t* Aligned(const Block& block) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(block.get());
  return reinterpret_cast<uint8_t*>((address + 63) & ~uintptr_t{63});
}

void StoreLe(uint8_t* p, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

// A plain read of the whole file into a fresh block, as a viewer would.
uint8_t* ReadWholeFile(const char* path, uint64_t size) {
  uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size)));
  if (block == nullptr) return nullptr;
#ifdef _WIN32
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD got = 0;
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  ReadFile(file, block, static_cast<DWORD>(size), &got, nullptr) && got == size;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
#else
  const int fd = open(path, O_RDONLY);
  uint64_t got = 0;
  while (fd >= 0 && got < size) {
    const ssize_t n = read(fd, block + got, static_cast<size_t>(size - got));
    if (n <= 0) break;
    got += static_cast<uint64_t>(n);
  }
  if (fd >= 0) close(fd);
  const bool ok = got == size;
#endif
  if (!ok) {
    LocalFree(block);
    return nullptr;
  }
  return block;
}

std::string TempFolder() {
  const char* folder = getenv("WPP_BENCH_DIR");
#ifdef _WIN32
  if (folder == nullptr) folder = getenv("TEMP");
  return std::string(folder != nullptr ? folder : ".") + "\\";
#else
  if (folder == nullptr) folder = getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/";
#endif
}

Picture& PictureOf(Size size) {
  static std::map<uint64_t, std::unique_ptr<Picture>> pictures;
  const uint64_t key = (uint64_t{size.width} << 32) | size.height;
  auto& slot = pictures[key];
  if (slot) return *slot;
  slot = std::make_unique<Picture>();
  Picture& picture = *slot;
  picture.width = size.width;
  picture.height = size.height;
  picture.stride = (2 * size.width + 3) & ~3u;
  picture.pixelBytes = 2ull * size.width * size.height;
  picture.bitsSize = uint64_t{picture.stride} * size.height + 4;
  picture.image.resize(wpp::kPixelsOffset + picture.pixelBytes);
  memset(picture.image.data(), 0x5A, 16);
  StoreLe(picture.image.data() + 16, static_cast<uint32_t>(picture.pixelBytes + 4), 4);
  StoreLe(picture.image.data() + 20, size.width, 2);
  StoreLe(picture.image.data() + 22, size.height, 2);
  uint32_t seed = 0x9E3779B9u ^ size.width;
  for (uint64_t i = 0; i < picture.pixelBytes; i += 2) {
    seed = seed * 1664525u + 1013904223u;
    StoreLe(picture.image.data() + wpp::kPixelsOffset + i, seed >> 16, 2);
  }
  picture.reference.assign(picture.bitsSize, 0);
  const wpp::PictureLayout layout = {picture.image.data() + wpp::kPixelsOffset, size.width,
                                     size.height, picture.reference.data(), picture.stride};
  wpp::ConvertPicture(wpp::ConvertPath::Scalar, false, layout);
  picture.path = TempFolder() + "wpp_bench_" + std::to_string(size.width) + "x" +
                 std::to_string(size.height) + ".wpp";
  if (!WriteFile(picture.path, picture.image)) picture.path.clear();
  return picture;
}

void RemovePictureFiles() {
  for (Size size : kSizes) remove(PictureOf(size).path.c_str());
}

// A fixed amount of work per repetition, so the big cases stay short.
int64_t IterationsFor(const Picture& picture) {
  const int64_t n = static_cast<int64_t>((512ull << 20) / picture.pixelBytes);
  return n < 4 ? 4 : n;
}

std::string Name(const char* group, const char* what, const Picture& picture) {
  return std::string(group) + "/" + what + "/" + std::to_string(picture.width) + "x" +
         std::to_string(picture.height);
}

bool SameAsReference(const Picture& picture, const uint8_t* bits, const uint8_t* info) {
  if (memcmp(bits, picture.reference.data(), static_cast<size_t>(picture.bitsSize)) != 0)
    return false;
  if (info == nullptr) return true;
  uint32_t width = 0, height = 0;
  memcpy(&width, info + 4, 4);
  memcpy(&height, info + 8, 4);
  return width == picture.width && height == picture.height;
}

// The baselines.

void CopyRowsReversed(const Picture& picture, uint8_t* destination) {
  const uint32_t rowBytes = 2 * picture.width;
  const uint8_t* pixels = picture.image.data() + wpp::kPixelsOffset;
  for (uint32_t row = 0; row < picture.height; ++row)
    memcpy(destination + uint64_t{row} * picture.stride,
           pixels + uint64_t{picture.height - 1 - row} * rowBytes, rowBytes);
}

__attribute__((target("avx2"))) void StreamRowAvx2(const uint8_t* source, uint8_t* destination,
                                                   uint32_t bytes) {
  uint32_t head = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(destination) & 63);
  if (head > bytes) head = bytes;
  memcpy(destination, source, head);
  uint32_t i = head;
  for (; i + 64 <= bytes; i += 64) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + i),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i)));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + i + 32),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i + 32)));
  }
  memcpy(destination + i, source + i, bytes - i);
}

void StreamRowSse2(const uint8_t* source, uint8_t* destination, uint32_t bytes) {
  uint32_t head = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(destination) & 63);
  if (head > bytes) head = bytes;
  memcpy(destination, source, head);
  uint32_t i = head;
  for (; i + 64 <= bytes; i += 64)
    for (uint32_t part = 0; part < 64; part += 16)
      _mm_stream_si128(reinterpret_cast<__m128i*>(destination + i + part),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + part)));
  memcpy(destination + i, source + i, bytes - i);
}

// The flip with stores that bypass the cache, whole 64-byte lines only (a
// partly streamed line is slow): the limit for a conversion.
void StreamRowsReversed(const Picture& picture, uint8_t* destination, bool avx2) {
  const uint32_t rowBytes = 2 * picture.width;
  const uint8_t* pixels = picture.image.data() + wpp::kPixelsOffset;
  for (uint32_t row = 0; row < picture.height; ++row) {
    const uint8_t* source = pixels + uint64_t{picture.height - 1 - row} * rowBytes;
    uint8_t* to = destination + uint64_t{row} * picture.stride;
    if (avx2)
      StreamRowAvx2(source, to, rowBytes);
    else
      StreamRowSse2(source, to, rowBytes);
  }
  _mm_sfence();
}

void RegisterCopies(Picture& picture) {
  Picture* p = &picture;
  benchmark::RegisterBenchmark(Name("copy", "memcpy", picture).c_str(),
                               [p](benchmark::State& state) {
                                 Block block = AllocateAligned(p->bitsSize);
                                 uint8_t* to = Aligned(block);
                                 const uint8_t* from = p->image.data() + wpp::kPixelsOffset;
                                 memcpy(to, from, static_cast<size_t>(p->pixelBytes));
                                 for (auto _ : state) {
                                   memcpy(to, from, static_cast<size_t>(p->pixelBytes));
                                   benchmark::ClobberMemory();
                                 }
                                 state.SetBytesProcessed(state.iterations() * p->pixelBytes);
                               })
      ->Iterations(IterationsFor(picture))
      ->UseRealTime();
  benchmark::RegisterBenchmark(Name("copy", "flip", picture).c_str(),
                               [p](benchmark::State& state) {
                                 Block block = AllocateAligned(p->bitsSize);
                                 uint8_t* to = Aligned(block);
                                 CopyRowsReversed(*p, to);
                                 for (auto _ : state) {
                                   CopyRowsReversed(*p, to);
                                   benchmark::ClobberMemory();
                                 }
                                 state.SetBytesProcessed(state.iterations() * p->pixelBytes);
                               })
      ->Iterations(IterationsFor(picture))
      ->UseRealTime();
  benchmark::RegisterBenchmark(Name("copy", "flip_stream", picture).c_str(),
                               [p](benchmark::State& state) {
                                 Block block = AllocateAligned(p->bitsSize);
                                 uint8_t* to = Aligned(block);
                                 const bool avx2 = wpp::CpuCanRunAvx2();
                                 StreamRowsReversed(*p, to, avx2);
                                 for (auto _ : state) {
                                   StreamRowsReversed(*p, to, avx2);
                                   benchmark::ClobberMemory();
                                 }
                                 state.SetBytesProcessed(state.iterations() * p->pixelBytes);
                               })
      ->Iterations(IterationsFor(picture))
      ->UseRealTime();
}

// The conversion through each path, into one block reused across iterations.

struct PathCase {
  const char* name;
  wpp::ConvertPath path;
  bool stream;
  bool picked;  // the path and store kind the plug-in picks itself
};

bool CanRun(wpp::ConvertPath path) {
  switch (path) {
    case wpp::ConvertPath::Avx2:
      return wpp::CpuCanRunAvx2();
    case wpp::ConvertPath::Avx512:
      return wpp::CpuCanRunAvx512();
    default:
      return true;
  }
}

void RegisterConversions(Picture& picture) {
  static const PathCase kPaths[] = {
      {"scalar", wpp::ConvertPath::Scalar, false, false},
      {"sse2", wpp::ConvertPath::Sse2, false, false},
      {"sse2_stream", wpp::ConvertPath::Sse2, true, false},
      {"avx2", wpp::ConvertPath::Avx2, false, false},
      {"avx2_stream", wpp::ConvertPath::Avx2, true, false},
      {"avx512", wpp::ConvertPath::Avx512, false, false},
      {"avx512_stream", wpp::ConvertPath::Avx512, true, false},
      {"picked", wpp::ConvertPath::Scalar, false, true},
  };
  for (const PathCase& path : kPaths) {
    if (!path.picked && !CanRun(path.path)) continue;
    Picture* p = &picture;
    const PathCase* c = &path;
    benchmark::RegisterBenchmark(
        Name("convert", path.name, picture).c_str(),
        [p, c](benchmark::State& state) {
          Block block = AllocateAligned(p->bitsSize);
          uint8_t* bits = Aligned(block);
          const wpp::ConvertPath which = c->picked ? wpp::PickConvertPath() : c->path;
          const bool stream = c->picked ? wpp::ShouldStreamStores(p->bitsSize) : c->stream;
          const wpp::PictureLayout layout = {p->image.data() + wpp::kPixelsOffset, p->width,
                                             p->height, bits, p->stride};
          memset(bits, 0xEE, static_cast<size_t>(p->bitsSize));
          memset(bits + p->bitsSize - 4, 0, 4);
          wpp::ConvertPicture(which, stream, layout);
          if (!SameAsReference(*p, bits, nullptr)) {
            state.SkipWithError("output differs from the scalar reference");
            return;
          }
          for (auto _ : state) {
            wpp::ConvertPicture(which, stream, layout);
            benchmark::ClobberMemory();
          }
          state.SetBytesProcessed(state.iterations() * p->pixelBytes);
        })
        ->Iterations(IterationsFor(picture))
        ->UseRealTime();
  }
}

// The front-end calls, each against its plain baseline.

LoadedPlugin& Plugin() {
  static LoadedPlugin plugin;
  static bool tried = false;
  if (!tried) {
    tried = true;
    std::string error;
    if (!LoadPlugin(DefaultPluginPath(), &plugin, &error))
      fprintf(stderr, "wpp_bench: %s\n", error.c_str());
  }
  return plugin;
}

void FreeBlocks(BlockHandle info, BlockHandle bits) {
  if (info != nullptr) LocalFree(info);
  if (bits != nullptr) LocalFree(bits);
}

// Runs one call that hands back two blocks, checks them, frees them.
template <class Call>
bool CheckedCall(const Picture& picture, Call call) {
  BlockHandle info = nullptr, bits = nullptr;
  const PluginResult result = call(&info, &bits);
  const bool same =
      result == Ok && info != nullptr && bits != nullptr &&
      SameAsReference(picture, static_cast<uint8_t*>(bits), static_cast<uint8_t*>(info));
  FreeBlocks(info, bits);
  return same;
}

template <class Call>
void RegisterCall(Picture& picture, const char* group, const char* name, Call call) {
  Picture* p = &picture;
  benchmark::RegisterBenchmark(Name(group, name, picture).c_str(),
                               [p, call](benchmark::State& state) {
                                 if (!call(*p, true)) {
                                   state.SkipWithError("wrong result or output");
                                   return;
                                 }
                                 for (auto _ : state) call(*p, false);
                                 state.SetBytesProcessed(state.iterations() * p->pixelBytes);
                               })
      ->Iterations(IterationsFor(picture))
      ->UseRealTime();
}

bool DecodeOnce(const Picture& p, const uint8_t* image, bool check) {
  const uint32_t available = static_cast<uint32_t>(wpp::kPixelsOffset + p.pixelBytes);
  auto call = [&](BlockHandle* info, BlockHandle* bits) {
    return DecodeToDib(available, info, bits, nullptr, 0, image);
  };
  if (check) return CheckedCall(p, call);
  BlockHandle info = nullptr, bits = nullptr;
  const PluginResult result = call(&info, &bits);
  FreeBlocks(info, bits);
  return result == Ok;
}

void RegisterCalls(Picture& picture) {
  RegisterCall(picture, "base", "alloc_copy_free", [](const Picture& p, bool check) {
    uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(p.bitsSize)));
    if (block == nullptr) return false;
    memcpy(block, p.image.data() + wpp::kPixelsOffset, static_cast<size_t>(p.pixelBytes));
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    LocalFree(block);
    (void)check;
    return true;
  });
  RegisterCall(picture, "call", "decode_to_dib",
               [](const Picture& p, bool check) { return DecodeOnce(p, p.image.data(), check); });
  RegisterCall(picture, "call", "get_picture_memory", [](const Picture& p, bool check) {
    GetPictureProc getPicture = Plugin().getPicture;
    if (getPicture == nullptr) return false;
    auto call = [&](BlockHandle* info, BlockHandle* bits) {
      return getPicture(reinterpret_cast<const char*>(p.image.data()),
                        static_cast<int32_t>(p.image.size()), 1, info, bits, nullptr, 0);
    };
    if (check) return CheckedCall(p, call);
    BlockHandle info = nullptr, bits = nullptr;
    const PluginResult result = call(&info, &bits);
    FreeBlocks(info, bits);
    return result == Ok;
  });
  RegisterCall(picture, "base", "read_decode", [](const Picture& p, bool check) {
    if (p.path.empty()) return false;
    uint8_t* image = ReadWholeFile(p.path.c_str(), p.image.size());
    if (image == nullptr) return false;
    const bool ok = DecodeOnce(p, image, check);
    LocalFree(image);
    return ok;
  });
  RegisterCall(picture, "call", "get_picture_file", [](const Picture& p, bool check) {
    GetPictureProc getPicture = Plugin().getPicture;
    if (getPicture == nullptr || p.path.empty()) return false;
    auto call = [&](BlockHandle* info, BlockHandle* bits) {
      return getPicture(p.path.c_str(), 0, 0, info, bits, nullptr, 0);
    };
    if (check) return CheckedCall(p, call);
    BlockHandle info = nullptr, bits = nullptr;
    const PluginResult result = call(&info, &bits);
    FreeBlocks(info, bits);
    return result == Ok;
  });
  RegisterCall(picture, "base", "read", [](const Picture& p, bool) {
    if (p.path.empty()) return false;
    uint8_t* image = ReadWholeFile(p.path.c_str(), p.image.size());
    if (image == nullptr) return false;
    benchmark::DoNotOptimize(image);
    LocalFree(image);
    return true;
  });
  RegisterCall(picture, "call", "get_picture_info_file", [](const Picture& p, bool check) {
    GetPictureInfoProc getPictureInfo = Plugin().getPictureInfo;
    if (getPictureInfo == nullptr || p.path.empty()) return false;
    PictureInfoRecord record;
    memset(&record, 0, sizeof record);
    if (getPictureInfo(p.path.c_str(), 0, 0, &record) != Ok) return false;
    const bool same = !check || (record.width == p.width && record.height == p.height &&
                                 record.bitsPerPixel == 16);
    if (record.textHandle != nullptr) LocalFree(record.textHandle);
    return same;
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const wpp::ConvertPath picked = wpp::PickConvertPath();
  const char* names[] = {"scalar", "sse2", "avx2", "avx512"};
  printf("wpp_bench: picked path %s, last-level cache %u bytes\n", names[static_cast<int>(picked)],
         wpp::LastLevelCacheBytes());
  for (Size size : kSizes) {
    Picture& picture = PictureOf(size);
    printf("wpp_bench: %ux%u streams stores: %s\n", size.width, size.height,
           wpp::ShouldStreamStores(picture.bitsSize) ? "yes" : "no");
  }
  for (Size size : kSizes) RegisterCopies(PictureOf(size));
  for (Size size : kSizes) RegisterConversions(PictureOf(size));
  for (Size size : kSizes) RegisterCalls(PictureOf(size));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RemovePictureFiles();
  return 0;
}
