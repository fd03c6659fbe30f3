// wpp2bmp: converts WPP images to BMP files through the plug-in, calling it
// exactly as an image viewer does. See `wpp2bmp --help` and README.md.

#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "host/plugin_loader.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix/picture_memory.h"
#endif
#include "tools/bmp_file.h"
#include "tools/wpp2bmp_command_line.h"

namespace fs = std::filesystem;

namespace {

// GetPluginInfo's strings are short; a viewer's buffer of this size holds any.
constexpr int32_t kPluginStringBytes = 256;
// Windows paths are UTF-16, and only the wide entry points take every one.
constexpr bool kWidePaths = std::is_same_v<fs::path::value_type, wchar_t>;

volatile sig_atomic_t cancelRequested = 0;
extern "C" void OnInterrupt(int) { cancelRequested = 1; }

std::string PluginString(const LoadedPlugin& plugin, int32_t index) {
  char buffer[kPluginStringBytes] = {};
  const int32_t length = plugin.getPluginInfo(index, buffer, kPluginStringBytes);
  return length > 0 && length < kPluginStringBytes
             ? std::string(buffer, static_cast<size_t>(length))
             : "";
}

#ifdef _WIN32
using InputBytes = std::vector<uint8_t>;
#else
// Memory mode holds the whole file: on a picture block, whose huge pages a
// large one takes.
template <typename T>
struct PictureAllocator {
  using value_type = T;
  PictureAllocator() = default;
  template <typename U>
  PictureAllocator(const PictureAllocator<U>&) {}
  T* allocate(size_t count) {
    if (void* block = platform::AllocatePicture(uint64_t{count} * sizeof(T)))
      return static_cast<T*>(block);
    throw std::bad_alloc();
  }
  void deallocate(T* block, size_t) { platform::FreePicture(block); }
  bool operator==(const PictureAllocator&) const { return true; }
};
using InputBytes = std::vector<uint8_t, PictureAllocator<uint8_t> >;
#endif

// Up to limit bytes from offset on, in one block sized from the file's size;
// false when the file cannot be read.
bool ReadInput(const fs::path& path, long long offset, size_t limit, InputBytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in || !in.seekg(offset)) return false;
  bytes->clear();
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (!error && size > static_cast<uintmax_t>(offset))
    bytes->reserve(static_cast<size_t>(std::min<uintmax_t>(size - offset, limit)));
  char chunk[65536];
  while (bytes->size() < limit && in.read(chunk, sizeof chunk).gcount() > 0)
    bytes->insert(bytes->end(), chunk, chunk + in.gcount());
  if (bytes->size() > limit) bytes->resize(limit);
  return !in.bad();
}

// A bad command line or plug-in: the message, and the usage status.
int Refuse(const std::string& why) {
  Say(stderr, "wpp2bmp: %s\n", why.c_str());
  return kUsage;
}

int Fail(const fs::path& input, int status, const std::string& why) {
  Say(stderr, "wpp2bmp: %s: %s\n", Utf8(input).c_str(), why.c_str());
  return status;
}

// The status and one-line message for a result other than Ok.
int ReportResult(const fs::path& input, int32_t result) {
  const struct {
    int32_t result;
    Exit status;
    const char* why;
  } kReasons[] = {{UnsupportedFormat, kNotWpp, "not a WPP image"},
                  {ReadError, kUnreadable, "cannot be read"},
                  {OutOfMemory, kOutOfMemory, "out of memory"},
                  {Aborted, kCancelled, "cancelled"}};
  for (const auto& reason : kReasons)
    if (reason.result == result) return Fail(input, reason.status, reason.why);
  return Fail(input, kPluginMisbehaved,
              "the plug-in gave an unexpected result " + std::to_string(result));
}

bool Cancelled() { return cancelRequested != 0; }

struct Progress {
  std::string name;
  bool show;
  int calls, cancelAtCall;
};

int32_t WPP_CALL OnProgress(int32_t numerator, int32_t denominator, intptr_t userData) {
  auto* p = reinterpret_cast<Progress*>(userData);
  if (p->show && denominator > 0)
    Say(stderr, "\r%s: %3d%%%s", p->name.c_str(), 100 * numerator / denominator,
        numerator >= denominator ? "\n" : "");
  if (p->cancelAtCall != 0 && ++p->calls >= p->cancelAtCall) cancelRequested = 1;
  return cancelRequested ? 1 : 0;
}

// The path in the system's 8-bit code page, or nothing when it cannot spell it.
std::string NarrowPath(const fs::path& path) {
#ifdef _WIN32
  const wchar_t* wide = path.c_str();
  BOOL lost = FALSE;
  const int size =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lost);
  if (size <= 0 || lost) return std::string();
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, narrow.data(), size, nullptr,
                      nullptr);
  narrow.pop_back();  // the terminator, counted in size
  return narrow;
#else
  return path.native();
#endif
}

int ConvertOne(const LoadedPlugin& plugin, const Options& o, const fs::path& input) {
  // The file is read once: its head for the support test, or all of it for memory mode.
  InputBytes bytes;
  try {
    if (!ReadInput(input, o.offset, o.memory ? SIZE_MAX : kSupportHeadBytes, &bytes))
      return ReportResult(input, ReadError);
  } catch (const std::bad_alloc&) {
    return ReportResult(input, OutOfMemory);
  }
  std::vector<uint8_t> head(bytes.begin(),
                            bytes.begin() + std::min<size_t>(bytes.size(), kSupportHeadBytes));
  head.resize(kSupportHeadBytes, 0);
  if (plugin.isSupported(nullptr, head.data()) != 1) return ReportResult(input, UnsupportedFormat);

  // The plug-in's source: the file by its path (wide where paths are), or the bytes.
  const bool wide = kWidePaths && plugin.hasWide() && !o.memory;
  const std::u16string widePath = wide ? input.u16string() : u"";
  const std::string narrowPath = wide || o.memory ? "" : NarrowPath(input);
  const char* source = o.memory ? reinterpret_cast<const char*>(bytes.data()) : narrowPath.c_str();
  const intptr_t offsetOrLength = o.memory ? static_cast<intptr_t>(bytes.size()) : o.offset;
  const uint32_t mode = o.memory ? kMemoryMode : kFileMode;

  PictureInfoRecord record = {};
  const PluginResult infoResult =
      wide ? plugin.getPictureInfoW(widePath.c_str(), offsetOrLength, mode, &record)
           : plugin.getPictureInfo(source, offsetOrLength, mode, &record);
  if (infoResult != Ok) return ReportResult(input, infoResult);
  const char* text = static_cast<const char*>(record.textHandle);
  if (o.info) {
    Say(stdout, "%s: %u x %u, %d bits per pixel\n", Utf8(input).c_str(), record.width,
        record.height, record.bitsPerPixel);
    if (text != nullptr) Say(stdout, "%s\n", text);
  }
  if (text != nullptr) GlobalFree(record.textHandle);
  if (o.info) return kOk;

  Progress progress = {Utf8(input), !o.quiet && isatty(fileno(stderr)), 0,
                       static_cast<int>(o.cancelAtCall)};
  BlockHandle info = nullptr, bits = nullptr;
  const intptr_t userData = reinterpret_cast<intptr_t>(&progress);
  const PluginResult result =
      wide ? plugin.getPictureW(widePath.c_str(), offsetOrLength, mode, &info, &bits, OnProgress,
                                userData)
           : plugin.getPicture(source, offsetOrLength, mode, &info, &bits, OnProgress, userData);
  int status = kOk;
  BmpParts parts = {};
  std::string problem;
  BmpWrite written = BmpWrite::Failed;
  if (result != Ok)
    status = ReportResult(input, result);
  else if (!DescribeBmp(static_cast<const uint8_t*>(info), LocalSize(info),
                        static_cast<const uint8_t*>(bits), LocalSize(bits), &parts, &problem))
    status = Fail(input, kPluginMisbehaved, "the plug-in gave a malformed picture: " + problem);
  else if ((written = WriteBmpFile(OutputPath(o, input), parts, Cancelled, &problem)) !=
           BmpWrite::Written)
    status = written == BmpWrite::Cancelled ? ReportResult(input, Aborted)
                                            : Fail(input, kCannotWrite, problem);
  // On Ok, and on Aborted after the conversion, the blocks are ours to free.
  if (result == Ok || result == Aborted) {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
  }
  return status;
}

int Run(const std::vector<fs::path>& args) {
  Options o;
  bool help = false;
  if (!ParseOptions(args, &o, &help)) return Refuse("see wpp2bmp --help");
  if (help || (o.inputs.empty() && !o.version && !o.pluginInfo)) {
    PrintHelp(help ? stdout : stderr);
    return help ? kOk : kUsage;
  }
  if (o.inputs.size() > 1 && NamesABmp(o.output))
    return Refuse("-o names a folder when there are several inputs");
  if (!o.output.empty() && !NamesABmp(o.output) && !fs::is_directory(o.output))
    return Refuse(Utf8(o.output) + ": no such folder");
  const std::string pluginPath = o.plugin.empty() ? DefaultPluginPath() : Utf8(o.plugin);
  LoadedPlugin plugin;
  std::string error;
  if (!LoadPlugin(pluginPath, &plugin, &error)) return Refuse(error);
  if (PluginString(plugin, 0) != "00IN") {
    UnloadPlugin(&plugin);
    return Refuse(pluginPath + " is not an import-filter plug-in (string 0 is not 00IN)");
  }
  if (o.version)
    Say(stdout, "wpp2bmp " WPP_VERSION "; plug-in: %s\n", PluginString(plugin, 1).c_str());
  if (o.pluginInfo) {
    Say(stdout, "plug-in:     %s\n", pluginPath.c_str());
    // One label per information string, in the order of their indexes.
    const char* labels[] = {"interface:  ", "description:", "pattern:    ", "format:     "};
    int32_t index = 0;
    for (const char* label : labels)
      Say(stdout, "%s %s\n", label, PluginString(plugin, index++).c_str());
    Say(stdout, "paths:       %s\n",
        kWidePaths && plugin.hasWide() ? "UTF-16, through the wide entry points"
                                       : "8-bit, through the 8-bit entry points");
  }
  signal(SIGINT, OnInterrupt);
  signal(SIGTERM, OnInterrupt);
  int status = kOk;
  for (const fs::path& input : o.inputs) {
    const int one = ConvertOne(plugin, o, input);
    if (status == kOk) status = one;
    if (one == kOk && !o.info)
      Say(stdout, "%s -> %s\n", Utf8(input).c_str(), Utf8(OutputPath(o, input)).c_str());
    if (cancelRequested) break;  // Ctrl-C stops the whole run
  }
  fflush(stdout);
  UnloadPlugin(&plugin);
  return status;
}

}  // namespace

// Windows hands its arguments over as UTF-16 here, so every name survives.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run({argv + 1, argv + argc}); }
#else
int main(int argc, char** argv) { return Run({argv + 1, argv + argc}); }
#endif
