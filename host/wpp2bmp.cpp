// wpp2bmp: converts WPP images to BMP files through the plug-in, calling it
// exactly as an image viewer does. See `wpp2bmp --help` and README.md.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/bmp_file.h"
#include "host/plugin_loader.h"
#include "platform/platform.h"
#include "wpp/wpp.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#define WPP_ISATTY _isatty
#define WPP_FILENO _fileno
#define WPP_GETPID _getpid
#define WPP_FSEEK _fseeki64
#else
#include <unistd.h>
#define WPP_ISATTY isatty
#define WPP_FILENO fileno
#define WPP_GETPID getpid
#define WPP_FSEEK fseeko
#endif

namespace {

// Exit statuses, one per kind of failure; README.md lists them too.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 1,        // bad command line, plug-in missing or not ours, other faults
  kExitNotWpp = 2,       // UnsupportedFormat: not a WPP image, or nothing at the offset
  kExitUnreadable = 3,   // ReadError: the file cannot be opened or read
  kExitOutOfMemory = 4,  // OutOfMemory
  kExitCancelled = 5,    // Aborted: Ctrl-C through the progress callback
  kExitCannotWrite = 6,  // the BMP file cannot be written
};

constexpr const char* kHelp =
    "usage: wpp2bmp [options] INPUT.wpp...\n"
    "Converts WPP images to BMP files through the WPP import-filter plug-in,\n"
    "calling it the way an image viewer does.\n"
    "\n"
    "  -o PATH          output folder (for any number of inputs), or the BMP file\n"
    "                   for a single input when PATH ends in .bmp;\n"
    "                   default: INPUT with .bmp in place of its extension\n"
    "  --offset N       the image starts N bytes into each input file\n"
    "  --memory         hand the plug-in the file's bytes in memory instead of\n"
    "                   its path\n"
    "  --info           print width, height, depth and the information text;\n"
    "                   decode nothing and write nothing\n"
    "  --plugin PATH    the plug-in to load (default: " WPP_PLUGIN_FILE
    " next to this program)\n"
    "  --plugin-info    print the plug-in's information strings\n"
    "  --quiet          no progress display\n"
    "  --version        print this program's version and the plug-in's description\n"
    "  --help           this text\n"
    "\n"
    "Ctrl-C cancels through the plug-in's progress callback; the picture is then\n"
    "not written. A BMP file is written under a temporary name in its folder and\n"
    "renamed into place, so a failed or cancelled run leaves no partial file.\n"
    "\n"
    "Exit status: 0 every input converted; 1 usage or plug-in problem;\n"
    "2 not a WPP image; 3 unreadable file; 4 out of memory; 5 cancelled;\n"
    "6 the BMP file cannot be written. With several inputs, the status of the\n"
    "first that failed.\n";

constexpr const char* kVersion = "1.0";
constexpr uint32_t kHeadBytes = 2000;  // what a viewer hands IsSupported

volatile sig_atomic_t cancelRequested = 0;

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    cancelRequested = 1;
    return TRUE;
  }
  return FALSE;
}
void WatchForCancel() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
#else
extern "C" void OnInterrupt(int) { cancelRequested = 1; }
void WatchForCancel() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
#endif

struct Options {
  std::string output;
  std::string pluginPath;
  std::vector<std::string> inputs;
  int64_t offset = 0;
  bool memory = false;
  bool info = false;
  bool quiet = false;
  bool showVersion = false;
  bool showPluginInfo = false;
  bool showHelp = false;
  // Hidden, for tests: act as if Ctrl-C came at progress call N (1 or 2).
  int32_t cancelAtProgressCall = 0;
};

// Progress state; its address travels through the plug-in as userData.
struct ProgressState {
  const char* name;
  bool show;
  int32_t calls;
  int32_t cancelAtCall;
};

int32_t WPP_CALL OnProgress(int32_t numerator, int32_t denominator, intptr_t userData) {
  ProgressState* state = reinterpret_cast<ProgressState*>(userData);
  ++state->calls;
  if (state->show && denominator > 0) {
    const int64_t percent = 100LL * numerator / denominator;
    fprintf(stderr, "\r%s: %3lld%%%s", state->name, static_cast<long long>(percent),
            numerator >= denominator ? "\n" : "");
  }
  if (state->cancelAtCall != 0 && state->calls >= state->cancelAtCall) cancelRequested = 1;
  return cancelRequested ? 1 : 0;
}

bool ParseCount(const char* text, int64_t* value) {
  char* end = nullptr;
  const long long parsed = strtoll(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 0 || parsed > INTPTR_MAX) return false;
  *value = parsed;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-o" && hasValue) {
      options->output = argv[++i];
    } else if (arg == "--plugin" && hasValue) {
      options->pluginPath = argv[++i];
    } else if (arg == "--offset" && hasValue) {
      if (!ParseCount(argv[++i], &options->offset)) {
        fprintf(stderr, "wpp2bmp: --offset wants a byte count from 0 to %lld\n",
                static_cast<long long>(INTPTR_MAX));
        return false;
      }
    } else if (arg == "--cancel-at-progress-call" && hasValue) {
      int64_t call = 0;
      if (!ParseCount(argv[++i], &call) || call < 1 || call > 2) return false;
      options->cancelAtProgressCall = static_cast<int32_t>(call);
    } else if (arg == "--memory") {
      options->memory = true;
    } else if (arg == "--info") {
      options->info = true;
    } else if (arg == "--quiet" || arg == "-q") {
      options->quiet = true;
    } else if (arg == "--version") {
      options->showVersion = true;
    } else if (arg == "--plugin-info") {
      options->showPluginInfo = true;
    } else if (arg == "--help" || arg == "-h") {
      options->showHelp = true;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) options->inputs.push_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      fprintf(stderr, "wpp2bmp: unknown option or missing value: %s\n", arg.c_str());
      return false;
    } else {
      options->inputs.push_back(arg);
    }
  }
  return true;
}

std::string PluginString(const LoadedPlugin& plugin, int32_t index) {
  char buffer[256] = {};
  const int32_t length = plugin.getPluginInfo(index, buffer, sizeof(buffer));
  if (length <= 0 || length >= static_cast<int32_t>(sizeof(buffer))) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

bool EndsWithBmp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".bmp";
}

size_t NameStart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

// Where the BMP of input goes.
std::string OutputPath(const Options& options, const std::string& input) {
  const size_t nameStart = NameStart(input);
  std::string stem = input.substr(nameStart);
  const size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  if (options.output.empty()) return input.substr(0, nameStart) + stem + ".bmp";
  if (options.inputs.size() == 1 && EndsWithBmp(options.output)) return options.output;
  std::string folder = options.output;
  if (folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder + stem + ".bmp";
}

bool IsFolder(const std::string& path) {
  struct stat status = {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Reads up to limit bytes from offset on; false when the file cannot be read.
bool ReadFileBytes(const std::string& path, int64_t offset, uint64_t limit,
                   std::vector<uint8_t>* bytes) {
  bytes->clear();
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bool ok = WPP_FSEEK(file, offset, SEEK_SET) == 0;
  uint8_t chunk[65536];
  while (ok && bytes->size() < limit) {
    const uint64_t want =
        limit - bytes->size() < sizeof(chunk) ? limit - bytes->size() : sizeof(chunk);
    const size_t got = fread(chunk, 1, static_cast<size_t>(want), file);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < want) {
      ok = ferror(file) == 0;
      break;
    }
  }
  fclose(file);
  return ok;
}

bool RemoveFile(const std::string& path) { return remove(path.c_str()) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Writes the BMP under a fresh temporary name beside target and renames it
// into place. Nothing of it stays behind on failure or cancel.
int WriteBmpFile(const std::string& target, const BmpParts& parts, const char* input) {
  const std::string folder = target.substr(0, NameStart(target));
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = folder + ".wpp2bmp-" + std::to_string(WPP_GETPID()) + "-" +
                std::to_string(attempt) + ".tmp";
#ifdef _WIN32
    fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0644);
#else
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
#endif
  }
  if (fd < 0) {
    fprintf(stderr, "wpp2bmp: %s: cannot create a file in %s: %s\n", input,
            folder.empty() ? "." : folder.c_str(), strerror(errno));
    return kExitCannotWrite;
  }
  FILE* file = fdopen(fd, "wb");
  bool ok = file != nullptr;
  const int savedErrno = errno;
  if (!ok) close(fd);
  uint8_t fileHeader[kBmpFileHeaderSize];
  FillBmpFileHeader(parts, fileHeader);
  ok = ok && fwrite(fileHeader, 1, sizeof(fileHeader), file) == sizeof(fileHeader);
  ok = ok && fwrite(parts.info, 1, parts.infoSize, file) == parts.infoSize;
  ok = ok && fwrite(parts.bits, 1, parts.bitsSize, file) == parts.bitsSize;
  ok = ok && fflush(file) == 0;
  const int writeErrno = ok ? 0 : (file != nullptr ? errno : savedErrno);
  if (file != nullptr && fclose(file) != 0 && ok) ok = false;
  if (ok && cancelRequested) {
    RemoveFile(temporary);
    fprintf(stderr, "wpp2bmp: %s: cancelled\n", input);
    return kExitCancelled;
  }
  if (!ok || !ReplaceFile(temporary, target)) {
    const int error = ok ? errno : writeErrno;
    RemoveFile(temporary);
    fprintf(stderr, "wpp2bmp: %s: cannot write %s: %s\n", input, target.c_str(), strerror(error));
    return kExitCannotWrite;
  }
  return kExitOk;
}

// The status and one-line message for a result other than Ok.
int ReportFailure(const char* input, int32_t result) {
  switch (result) {
    case UnsupportedFormat:
      fprintf(stderr, "wpp2bmp: %s: not a WPP image\n", input);
      return kExitNotWpp;
    case ReadError:
      fprintf(stderr, "wpp2bmp: %s: cannot be read\n", input);
      return kExitUnreadable;
    case OutOfMemory:
      fprintf(stderr, "wpp2bmp: %s: out of memory\n", input);
      return kExitOutOfMemory;
    case Aborted:
      fprintf(stderr, "wpp2bmp: %s: cancelled\n", input);
      return kExitCancelled;
    default:
      fprintf(stderr, "wpp2bmp: %s: the plug-in gave an unexpected result %d\n", input,
              static_cast<int>(result));
      return kExitUsage;
  }
}

// The source arguments for this input, in file or memory mode.
struct Source {
  const char* address;
  intptr_t offsetOrLength;
  uint32_t mode;
};

int ConvertOne(const LoadedPlugin& plugin, const Options& options, const std::string& input) {
  const char* name = input.c_str();
  // The support test, as a viewer runs it: the file's first bytes in a buffer.
  std::vector<uint8_t> head;
  if (!ReadFileBytes(input, options.offset, kHeadBytes, &head))
    return ReportFailure(name, ReadError);
  head.resize(kHeadBytes, 0);
  if (plugin.isSupported(name, head.data()) != 1) return ReportFailure(name, UnsupportedFormat);

  std::vector<uint8_t> whole;
  Source source = {name, static_cast<intptr_t>(options.offset), 0};
  if (options.memory) {
    if (!ReadFileBytes(input, options.offset, INT32_MAX, &whole))
      return ReportFailure(name, ReadError);
    source = {reinterpret_cast<const char*>(whole.data()), static_cast<intptr_t>(whole.size()), 1};
  }

  PictureInfoRecord record = {};
  const PluginResult infoResult =
      plugin.getPictureInfo(source.address, source.offsetOrLength, source.mode, &record);
  if (infoResult != Ok) return ReportFailure(name, infoResult);
  const char* text = static_cast<const char*>(record.textHandle);
  if (options.info) {
    printf("%s: %u x %u, %d bits per pixel\n", name, static_cast<unsigned>(record.width),
           static_cast<unsigned>(record.height), static_cast<int>(record.bitsPerPixel));
    if (text != nullptr) printf("%s", text);
    if (text != nullptr && text[0] != '\0' && text[strlen(text) - 1] != '\n') printf("\n");
  }
  if (record.textHandle != nullptr) GlobalFree(record.textHandle);
  if (options.info) return kExitOk;

  ProgressState progress = {name, !options.quiet && WPP_ISATTY(WPP_FILENO(stderr)) != 0, 0,
                            options.cancelAtProgressCall};
  BlockHandle info = nullptr;
  BlockHandle bits = nullptr;
  const PluginResult result =
      plugin.getPicture(source.address, source.offsetOrLength, source.mode, &info, &bits,
                        OnProgress, reinterpret_cast<intptr_t>(&progress));
  // On Ok, and on Aborted after the conversion, the blocks are ours. On any
  // other result nothing is, whatever the slots hold.
  const bool ownBlocks = result == Ok || result == Aborted;
  int status = kExitOk;
  if (result != Ok) {
    status = ReportFailure(name, result);
  } else {
    BmpParts parts = {};
    std::string problem;
    if (!DescribeBmp(static_cast<const uint8_t*>(info), LocalSize(info),
                     static_cast<const uint8_t*>(bits), LocalSize(bits), &parts, &problem)) {
      fprintf(stderr, "wpp2bmp: %s: the plug-in gave a malformed picture: %s\n", name,
              problem.c_str());
      status = kExitUsage;
    } else {
      status = WriteBmpFile(OutputPath(options, input), parts, name);
    }
  }
  if (ownBlocks) {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fprintf(stderr, "wpp2bmp: see wpp2bmp --help\n");
    return kExitUsage;
  }
  if (options.showHelp) {
    printf("%s", kHelp);
    return kExitOk;
  }
  const bool wantsPlugin = options.showVersion || options.showPluginInfo || !options.inputs.empty();
  if (!wantsPlugin) {
    fprintf(stderr, "%s", kHelp);
    return kExitUsage;
  }
  if (options.inputs.size() > 1 && EndsWithBmp(options.output)) {
    fprintf(stderr, "wpp2bmp: -o names a folder when there are several inputs\n");
    return kExitUsage;
  }
  if (!options.output.empty() && !EndsWithBmp(options.output) && !IsFolder(options.output)) {
    fprintf(stderr, "wpp2bmp: %s: no such folder\n", options.output.c_str());
    return kExitUsage;
  }

  const std::string pluginPath =
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  LoadedPlugin plugin;
  std::string error;
  if (!LoadPlugin(pluginPath, &plugin, &error)) {
    fprintf(stderr, "wpp2bmp: %s\n", error.c_str());
    return kExitUsage;
  }
  if (PluginString(plugin, 0) != "00IN") {
    fprintf(stderr, "wpp2bmp: %s is not an import-filter plug-in (string 0 is not 00IN)\n",
            pluginPath.c_str());
    UnloadPlugin(&plugin);
    return kExitUsage;
  }
  if (options.showVersion)
    printf("wpp2bmp %s; plug-in: %s\n", kVersion, PluginString(plugin, 1).c_str());
  if (options.showPluginInfo) {
    printf("plug-in:     %s\n", pluginPath.c_str());
    printf("interface:   %s\n", PluginString(plugin, 0).c_str());
    printf("description: %s\n", PluginString(plugin, 1).c_str());
    printf("pattern:     %s\n", PluginString(plugin, 2).c_str());
    printf("format:      %s\n", PluginString(plugin, 3).c_str());
  }

  WatchForCancel();
  int status = kExitOk;
  for (const std::string& input : options.inputs) {
    const int one = ConvertOne(plugin, options, input);
    if (status == kExitOk) status = one;
    if (one == kExitOk && !options.info)
      printf("%s -> %s\n", input.c_str(), OutputPath(options, input).c_str());
    if (cancelRequested) break;  // Ctrl-C stops the whole run
  }
  fflush(stdout);
  UnloadPlugin(&plugin);
  return status;
}
