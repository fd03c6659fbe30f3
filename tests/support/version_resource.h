// The version a user sees in a DLL's properties, read back the way Windows
// reads it (VERSION.DLL): the build's one version number and the file's own
// name and description. Windows only, and freestanding, so that the contract
// tests and the viewer test of the runtime-less targets make the one check.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

namespace testwpp {

// WPP_VERSION's parts, "major.minor.patch".
constexpr uint32_t VersionPart(uint32_t index) {
  uint32_t part = 0, value = 0;
  for (const char* c = WPP_VERSION; *c != '\0'; ++c) {
    if (*c == '.') {
      if (part++ == index) return value;
      value = 0;
    } else {
      value = value * 10 + static_cast<uint32_t>(*c - '0');
    }
  }
  return part == index ? value : 0;
}

inline bool SameWide(const wchar_t* a, const wchar_t* b) {
  while (*a != L'\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// What in the version resource of the DLL at path is not as built (the name
// of the first such field), or null when all is; name and description are
// the file's own.
inline const char* VersionResourceProblem(const wchar_t* path, const wchar_t* name,
                                          const wchar_t* description) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return "no version resource";
  void* block = LocalAlloc(LMEM_ZEROINIT, size);
  if (block == nullptr || !GetFileVersionInfoW(path, 0, size, block)) {
    LocalFree(block);
    return "the version resource cannot be read";
  }
  const char* problem = nullptr;
  const auto check = [&problem](bool ok, const char* what) {
    if (!ok && problem == nullptr) problem = what;
  };
  const struct {
    const wchar_t* query;
    const wchar_t* want;
    const char* what;
  } strings[] = {{L"\\StringFileInfo\\040904B0\\FileVersion", L"" WPP_VERSION, "FileVersion"},
                 {L"\\StringFileInfo\\040904B0\\ProductVersion", L"" WPP_VERSION, "ProductVersion"},
                 {L"\\StringFileInfo\\040904B0\\OriginalFilename", name, "OriginalFilename"},
                 {L"\\StringFileInfo\\040904B0\\ProductName", L"wpp", "ProductName"},
                 {L"\\StringFileInfo\\040904B0\\FileDescription", description, "FileDescription"}};
  for (const auto& s : strings) {
    void* text = nullptr;
    UINT length = 0;
    check(VerQueryValueW(block, s.query, &text, &length) != 0 &&
              SameWide(static_cast<const wchar_t*>(text), s.want),
          s.what);
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &length) == 0) {
    check(false, "the fixed part");
  } else {
    const DWORD high = VersionPart(0) << 16 | VersionPart(1), low = VersionPart(2) << 16;
    check(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low, "the file version");
    check(fixed->dwProductVersionMS == high, "the product version");
    check(fixed->dwFileType == VFT_DLL, "the file type");
  }
  LocalFree(block);
  return problem;
}

}  // namespace testwpp
