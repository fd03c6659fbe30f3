// The version a user sees in the plug-in file's properties: the check that
// the viewer test makes of the ARM64 plug-in, here at both x86 widths.

#include "tests/support/version_resource.h"

#include <filesystem>
#include <string>

#include "tests/support/plugin_under_test.h"

namespace {

TEST(VersionResource, CarriesTheBuildsVersionAndName) {
  const std::wstring path = std::filesystem::path(PluginPath()).wstring();
  EXPECT_STREQ(testwpp::VersionResourceProblem(path.c_str(), L"" WPP_PLUGIN_FILE,
                                               L"WPP image import filter"),
               nullptr);
}

}  // namespace
