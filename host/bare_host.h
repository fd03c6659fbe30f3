// The viewer's side for programs with no C or C++ runtime (ARM64 Windows):
// text and decimal numbers written to standard output with WriteFile, paths,
// and the plug-in loaded from beside the program. Nothing here formats
// through the system's printf family (Wine's ARM64 one reads a va_list in
// another shape).
#pragma once

#include <stdint.h>

#include "host/entry_points.h"
#include "platform/platform.h"

namespace bare {

inline void PrintPart(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written,
            nullptr);
}

inline void PrintPart(int64_t value) {
  char digits[24];
  char* p = digits + sizeof digits;
  *--p = '\0';
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  PrintPart(p);
}

// Texts and numbers, one after the other.
template <typename... Parts>
void Print(const Parts&... parts) {
  (PrintPart(parts), ...);
}

// A file opened for reading, as a viewer opens it.
inline HANDLE OpenToRead(const char16_t* path) {
  return CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// Writes all count bytes to file; false when any is not written.
inline bool WriteAll(HANDLE file, const void* bytes, uint32_t count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// Paths: above MAX_PATH, and small enough that no frame needs a stack probe.
constexpr uint32_t kPathChars = 300;

// Appends tail to the NUL-terminated path, as far as it fits.
inline void Append(char16_t* path, const char16_t* tail) {
  uint32_t at = 0;
  while (path[at] != u'\0') ++at;
  for (uint32_t i = 0; tail[i] != u'\0' && at + 1 < kPathChars; ++i) path[at++] = tail[i];
  path[at] = u'\0';
}

// The next argument of a command line, quoted or not, into word; false at
// its end. Windows hands the line over whole.
inline bool NextArgument(const char16_t** line, char16_t* word) {
  const char16_t* p = *line;
  while (*p == u' ' || *p == u'\t') ++p;
  if (*p == u'\0') return false;
  uint32_t length = 0;
  bool quoted = false;
  for (; *p != u'\0' && (quoted || (*p != u' ' && *p != u'\t')); ++p) {
    if (*p == u'"') {
      quoted = !quoted;
    } else if (length + 1 < kPathChars) {
      word[length++] = *p;
    }
  }
  word[length] = u'\0';
  *line = p;
  return true;
}

// FOLDER\NAME.EXT for the input's file name (extension: ".EXT").
inline void OutputPath(const char16_t* folder, const char16_t* input, const char16_t* extension,
                       char16_t* path) {
  path[0] = u'\0';
  Append(path, folder);
  Append(path, u"\\");
  const char16_t* name = input;
  for (const char16_t* p = input; *p != u'\0'; ++p)
    if (*p == u'\\' || *p == u'/') name = p + 1;
  uint32_t at = 0;
  while (path[at] != u'\0') ++at;
  uint32_t stem = 0, dot = 0;
  for (; name[stem] != u'\0' && at + stem + 5 < kPathChars; ++stem) {
    path[at + stem] = name[stem];
    if (name[stem] == u'.') dot = stem;
  }
  path[at + (dot != 0 ? dot : stem)] = u'\0';
  Append(path, extension);
}

// The folder this program runs from, with its trailing separator.
inline void ProgramFolder(char16_t* path) {
  uint32_t length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path), kPathChars);
  while (length > 0 && path[length - 1] != u'\\' && path[length - 1] != u'/') --length;
  path[length] = u'\0';
}

// The plug-in file next to this program.
inline void PluginBesideUs(char16_t* path) {
  ProgramFolder(path);
  Append(path, u"" WPP_PLUGIN_FILE);
}

// Binds a loaded plug-in's entry points; returns the first one missing, or null.
inline const char* BindPlugin(HMODULE module, EntryPoints* entries) {
  const auto find = [&](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
  };
  return BindEntryPoints(find, entries);
}

}  // namespace bare
