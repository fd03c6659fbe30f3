// wpp2bmp's command line: its options, its help text and its exit statuses.
#pragma once

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

// The exit statuses, the one list of them: the help text prints their
// meanings, and the tool's tests hold README.md's table to it.
enum Exit : int {
  kOk,
  kUsage,
  kNotWpp,
  kUnreadable,
  kOutOfMemory,
  kCancelled,
  kCannotWrite,
  kPluginMisbehaved,
  kExitCount
};

struct Options {
  std::filesystem::path output, plugin;
  std::vector<std::filesystem::path> inputs;
  long long offset = 0;
  bool memory = false, info = false, quiet = false, version = false, pluginInfo = false;
  long long cancelAtCall = 0;  // for the tests, not in the help: Ctrl-C at progress call N
};

// Reads the arguments into *o; false, with a message on stderr, for a bad
// command line. *help is set by --help.
bool ParseOptions(const std::vector<std::filesystem::path>& args, Options* o, bool* help);

// The help text, the exit statuses last.
void PrintHelp(FILE* to);

// Whether a path names a BMP file, and where the BMP of input goes.
bool NamesABmp(const std::filesystem::path& path);
std::filesystem::path OutputPath(const Options& o, const std::filesystem::path& input);

// A name as UTF-8, for messages.
std::string Utf8(const std::filesystem::path& path);

// Writes UTF-8 text whole: as UTF-16 to a Windows console, which would show
// the bytes in its code page, and as UTF-8 anywhere else.
void Say(FILE* to, const std::string& text);

// The same, formatted as printf formats.
template <typename First, typename... Rest>
void Say(FILE* to, const char* format, First first, Rest... rest) {
  const int length = snprintf(nullptr, 0, format, first, rest...);
  if (length <= 0) return;
  std::string text(static_cast<size_t>(length), '\0');
  snprintf(text.data(), text.size() + 1, format, first, rest...);
  Say(to, text);
}
