// The version a user sees in the plug-in file's properties, read back the way
// Windows reads it: the build's one version number, and the file's own name.

#include <stdio.h>

#include <filesystem>
#include <string>

#include "tests/support/plugin_under_test.h"

namespace {

TEST(VersionResource, CarriesTheBuildsVersionAndName) {
  const std::wstring path = std::filesystem::path(PluginPath()).wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(sscanf(WPP_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, major << 16 | minor);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  const std::wstring version(WPP_VERSION, WPP_VERSION + sizeof WPP_VERSION - 1);
  const std::wstring name(WPP_PLUGIN_FILE, WPP_PLUGIN_FILE + sizeof WPP_PLUGIN_FILE - 1);
  const struct {
    const wchar_t* key;
    std::wstring want;
  } strings[] = {{L"FileVersion", version},
                 {L"ProductVersion", version},
                 {L"OriginalFilename", name},
                 {L"ProductName", L"wpp"},
                 {L"FileDescription", L"WPP image import filter"}};
  for (const auto& s : strings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.key;
    wchar_t* text = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
        << "no " << std::string(s.key, s.key + wcslen(s.key));
    EXPECT_TRUE(s.want == text) << "the value of " << std::string(s.key, s.key + wcslen(s.key));
  }
}

}  // namespace
