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

#include "host/bmp_file.h"
#include "host/plugin_loader.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

// The exit statuses, the one list of them: the help text prints it, and the
// tool's tests hold README.md's table to it.
enum Exit : int { kOk, kUsage, kNotWpp, kUnreadable, kOutOfMemory, kCancelled, kCannotWrite };
constexpr const char* kExitMeanings[] = {
    "every input converted",
    "bad command line, or the plug-in is missing or not an import filter",
    "not a WPP image (or nothing whole at the offset)",
    "the file cannot be opened or read",
    "out of memory",
    "cancelled",
    "the BMP file cannot be written",
};

constexpr const char* kHelp =
    "usage: wpp2bmp [options] INPUT.wpp...\n"
    "Converts WPP images to BMP files through the WPP import-filter plug-in,\n"
    "calling it the way an image viewer does.\n\n"
    "  -o PATH          output folder (for any number of inputs), or the BMP file\n"
    "                   for a single input when PATH ends in .bmp;\n"
    "                   default: INPUT with .bmp in place of its extension\n"
    "  --offset N       the image starts N bytes into each input file\n"
    "  --memory         hand the plug-in the file's bytes in memory instead of its path\n"
    "  --info           print width, height, depth and the information text only\n"
    "  --plugin PATH    the plug-in to load (default: " WPP_PLUGIN_FILE
    " next to this program)\n"
    "  --plugin-info    print the plug-in's information strings\n"
    "  --quiet          no progress display\n"
    "  --version        print this program's version and the plug-in's description\n"
    "  --help           this text\n\n"
    "Ctrl-C cancels through the plug-in's progress callback. A BMP file is written\n"
    "under a temporary name in its folder and renamed into place, so a failed or\n"
    "cancelled run leaves no partial file. With several inputs, the exit status\n"
    "is the first failure's:\n";

constexpr uint32_t kHeadBytes = 2000;  // what a viewer hands IsSupported
// Windows paths are UTF-16, and only the wide entry points take every one.
constexpr bool kWidePaths = std::is_same_v<fs::path::value_type, wchar_t>;

volatile sig_atomic_t cancelRequested = 0;
extern "C" void OnInterrupt(int) { cancelRequested = 1; }

struct Options {
  fs::path output, plugin;
  std::vector<fs::path> inputs;
  long long offset = 0;
  bool memory = false, info = false, quiet = false, version = false, pluginInfo = false;
  long long cancelAtCall = 0;  // for the tests, not in the help: Ctrl-C at progress call N
};

// Names as UTF-8 for messages; Windows consoles may show them as bytes.
std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool ParseOptions(const std::vector<fs::path>& args, Options* o, bool* help) {
  const std::pair<const char*, bool*> flags[] = {
      {"--memory", &o->memory},   {"--info", &o->info},
      {"--quiet", &o->quiet},     {"-q", &o->quiet},
      {"--version", &o->version}, {"--plugin-info", &o->pluginInfo},
      {"--help", help},           {"-h", help}};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string arg = Utf8(args[i]);
    const bool hasValue = i + 1 < args.size();
    if (arg == "-o" && hasValue) {
      o->output = args[++i];
    } else if (arg == "--plugin" && hasValue) {
      o->plugin = args[++i];
    } else if ((arg == "--offset" || arg == "--cancel-at-progress-call") && hasValue) {
      const std::string text = Utf8(args[++i]);
      char* end = nullptr;
      const long long value = strtoll(text.c_str(), &end, 10);
      if (end == text.c_str() || *end != '\0' || value < 0 || value > INTPTR_MAX) {
        fprintf(stderr, "wpp2bmp: %s wants a count from 0 to %lld\n", arg.c_str(),
                static_cast<long long>(INTPTR_MAX));
        return false;
      }
      (arg == "--offset" ? o->offset : o->cancelAtCall) = value;
    } else if (arg == "--") {
      o->inputs.insert(o->inputs.end(), args.begin() + static_cast<ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      bool known = false;
      for (const auto& [name, flag] : flags)
        if (arg == name) known = *flag = true;
      if (!known) {
        fprintf(stderr, "wpp2bmp: unknown option or missing value: %s\n", arg.c_str());
        return false;
      }
    } else {
      o->inputs.push_back(args[i]);
    }
  }
  return true;
}

std::string PluginString(const LoadedPlugin& plugin, int32_t index) {
  char buffer[256] = {};
  const int32_t length = plugin.getPluginInfo(index, buffer, sizeof buffer);
  return length > 0 && length < 256 ? std::string(buffer, static_cast<size_t>(length)) : "";
}

bool NamesABmp(const fs::path& path) {
  std::string extension = Utf8(path.extension());
  for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return extension == ".bmp";
}

fs::path OutputPath(const Options& o, const fs::path& input) {
  fs::path name = input.filename().replace_extension(".bmp");
  if (o.output.empty()) return input.parent_path() / name;
  return o.inputs.size() == 1 && NamesABmp(o.output) ? o.output : o.output / name;
}

// Up to limit bytes from offset on; false when the file cannot be read.
bool ReadInput(const fs::path& path, long long offset, size_t limit, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in || !in.seekg(offset)) return false;
  bytes->clear();
  char chunk[65536];
  while (bytes->size() < limit && in.read(chunk, sizeof chunk).gcount() > 0)
    bytes->insert(bytes->end(), chunk, chunk + in.gcount());
  if (bytes->size() > limit) bytes->resize(limit);
  return !in.bad();
}

int Fail(const fs::path& input, int status, const std::string& why) {
  fprintf(stderr, "wpp2bmp: %s: %s\n", Utf8(input).c_str(), why.c_str());
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
  return Fail(input, kUsage, "the plug-in gave an unexpected result " + std::to_string(result));
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
    fprintf(stderr, "\r%s: %3d%%%s", p->name.c_str(), 100 * numerator / denominator,
            numerator >= denominator ? "\n" : "");
  if (p->cancelAtCall != 0 && ++p->calls >= p->cancelAtCall) cancelRequested = 1;
  return cancelRequested ? 1 : 0;
}

// The path in the system's 8-bit code page, or nothing when it cannot spell it.
std::string NarrowPath(const fs::path& path) {
  try {
    return path.string();
  } catch (...) {
    return std::string();
  }
}

int ConvertOne(const LoadedPlugin& plugin, const Options& o, const fs::path& input) {
  // The file is read once: its head for the support test, or all of it for memory mode.
  std::vector<uint8_t> bytes;
  try {
    if (!ReadInput(input, o.offset, o.memory ? SIZE_MAX : kHeadBytes, &bytes))
      return ReportResult(input, ReadError);
  } catch (const std::bad_alloc&) {
    return ReportResult(input, OutOfMemory);
  }
  std::vector<uint8_t> head(bytes.begin(),
                            bytes.begin() + std::min<size_t>(bytes.size(), kHeadBytes));
  head.resize(kHeadBytes, 0);
  if (plugin.isSupported(nullptr, head.data()) != 1) return ReportResult(input, UnsupportedFormat);

  // The plug-in's source: the file by its path (wide where paths are), or the bytes.
  const bool wide = kWidePaths && plugin.hasWide() && !o.memory;
  const std::u16string widePath = wide ? input.u16string() : u"";
  const std::string narrowPath = wide || o.memory ? "" : NarrowPath(input);
  const char* source = o.memory ? reinterpret_cast<const char*>(bytes.data()) : narrowPath.c_str();
  const intptr_t offsetOrLength = o.memory ? static_cast<intptr_t>(bytes.size()) : o.offset;
  const uint32_t mode = o.memory ? 1 : 0;

  PictureInfoRecord record = {};
  const PluginResult infoResult =
      wide ? plugin.getPictureInfoW(widePath.c_str(), offsetOrLength, mode, &record)
           : plugin.getPictureInfo(source, offsetOrLength, mode, &record);
  if (infoResult != Ok) return ReportResult(input, infoResult);
  const char* text = static_cast<const char*>(record.textHandle);
  if (o.info) {
    printf("%s: %u x %u, %d bits per pixel\n", Utf8(input).c_str(), record.width, record.height,
           record.bitsPerPixel);
    if (text != nullptr) printf("%s\n", text);
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
    status = Fail(input, kUsage, "the plug-in gave a malformed picture: " + problem);
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
  if (!ParseOptions(args, &o, &help)) {
    fprintf(stderr, "wpp2bmp: see wpp2bmp --help\n");
    return kUsage;
  }
  if (help || (o.inputs.empty() && !o.version && !o.pluginInfo)) {
    FILE* to = help ? stdout : stderr;
    fputs(kHelp, to);
    for (int status = 0; status < 7; ++status)
      fprintf(to, "  %d  %s\n", status, kExitMeanings[status]);
    return help ? kOk : kUsage;
  }
  if (o.inputs.size() > 1 && NamesABmp(o.output)) {
    fprintf(stderr, "wpp2bmp: -o names a folder when there are several inputs\n");
    return kUsage;
  }
  if (!o.output.empty() && !NamesABmp(o.output) && !fs::is_directory(o.output)) {
    fprintf(stderr, "wpp2bmp: %s: no such folder\n", Utf8(o.output).c_str());
    return kUsage;
  }
  const std::string pluginPath = o.plugin.empty() ? DefaultPluginPath() : o.plugin.string();
  LoadedPlugin plugin;
  std::string error;
  if (!LoadPlugin(pluginPath, &plugin, &error)) {
    fprintf(stderr, "wpp2bmp: %s\n", error.c_str());
    return kUsage;
  }
  if (PluginString(plugin, 0) != "00IN") {
    fprintf(stderr, "wpp2bmp: %s is not an import-filter plug-in (string 0 is not 00IN)\n",
            pluginPath.c_str());
    UnloadPlugin(&plugin);
    return kUsage;
  }
  if (o.version) printf("wpp2bmp 1.1; plug-in: %s\n", PluginString(plugin, 1).c_str());
  if (o.pluginInfo) {
    printf("plug-in:     %s\n", pluginPath.c_str());
    const char* labels[] = {"interface:  ", "description:", "pattern:    ", "format:     "};
    for (int32_t i = 0; i < 4; ++i) printf("%s %s\n", labels[i], PluginString(plugin, i).c_str());
    printf("paths:       %s\n", kWidePaths && plugin.hasWide()
                                    ? "UTF-16, through the wide entry points"
                                    : "8-bit, through the 8-bit entry points");
  }
  signal(SIGINT, OnInterrupt);
  signal(SIGTERM, OnInterrupt);
  int status = kOk;
  for (const fs::path& input : o.inputs) {
    const int one = ConvertOne(plugin, o, input);
    if (status == kOk) status = one;
    if (one == kOk && !o.info)
      printf("%s -> %s\n", Utf8(input).c_str(), Utf8(OutputPath(o, input)).c_str());
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
