// wpp2bmp's command line: its options, its help text and its exit statuses.

#include "tools/wpp2bmp_command_line.h"

#include <stdint.h>
#include <stdlib.h>

#include <utility>

#ifdef _WIN32
#include <io.h>

#include "host/plugin_loader.h"
#include "platform/platform.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr struct {
  Exit status;
  const char* meaning;
} kExitMeanings[] = {
    {kOk, "every input converted"},
    {kUsage, "bad command line, or the plug-in is missing or not an import filter"},
    {kNotWpp, "not a WPP image (or nothing whole at the offset)"},
    {kUnreadable, "the file cannot be opened or read"},
    {kOutOfMemory, "out of memory"},
    {kCancelled, "cancelled"},
    {kCannotWrite, "the BMP file cannot be written"},
    {kPluginMisbehaved, "the plug-in gave an unexpected result or a malformed picture"},
};

// Every status has its meaning, in order.
constexpr bool EveryStatusInOrder() {
  int next = 0;
  for (const auto& entry : kExitMeanings)
    if (entry.status != next++) return false;
  return next == kExitCount;
}
static_assert(EveryStatusInOrder(), "one meaning per exit status, in the enum's order");

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

}  // namespace

void PrintHelp(FILE* to) {
  fputs(kHelp, to);
  for (const auto& entry : kExitMeanings) fprintf(to, "  %d  %s\n", entry.status, entry.meaning);
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void Say(FILE* to, const std::string& text) {
#ifdef _WIN32
  HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to)));
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    const std::wstring wide = WideFromUtf8(text);
    DWORD written = 0;
    fflush(to);
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
#endif
  fputs(text.c_str(), to);
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
        Say(stderr, "wpp2bmp: %s wants a count from 0 to %lld\n", arg.c_str(),
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
        Say(stderr, "wpp2bmp: unknown option or missing value: %s\n", arg.c_str());
        return false;
      }
    } else {
      o->inputs.push_back(args[i]);
    }
  }
  return true;
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
