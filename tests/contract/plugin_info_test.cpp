#include <string.h>

#include <climits>
#include <string>

#include "tests/support/plugin_under_test.h"

namespace {

struct InfoCase {
  int32_t index;
  int32_t bufferLength;
  const char* want;  // null: the call must return 0 and leave the buffer alone
};

class PluginInfo : public ::testing::TestWithParam<InfoCase> {};

TEST_P(PluginInfo, CopiesTheShortenedStringAndReturnsItsLength) {
  const InfoCase& c = GetParam();
  char buffer[300];
  memset(buffer, '#', sizeof buffer);
  const int32_t length = Plugin().getPluginInfo(c.index, buffer, c.bufferLength);
  if (c.want == nullptr) {
    EXPECT_EQ(length, 0);
    for (char ch : buffer) ASSERT_EQ(ch, '#') << "the buffer was touched";
    return;
  }
  EXPECT_EQ(length, static_cast<int32_t>(strlen(c.want)));
  EXPECT_STREQ(buffer, c.want);
  // Nothing is written past the terminator.
  for (size_t i = strlen(c.want) + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#') << i;
}

// The wide twin: the same strings in UTF-16, by the same rules, counted in
// UTF-16 units.
TEST_P(PluginInfo, CopiesTheSameStringInUtf16) {
  const InfoCase& c = GetParam();
  char16_t buffer[300];
  for (char16_t& unit : buffer) unit = u'#';
  const int32_t length = Plugin().getPluginInfoW(c.index, buffer, c.bufferLength);
  if (c.want == nullptr) {
    EXPECT_EQ(length, 0);
    for (char16_t unit : buffer) ASSERT_EQ(unit, u'#') << "the buffer was touched";
    return;
  }
  const std::u16string want(c.want, c.want + strlen(c.want));
  EXPECT_EQ(length, static_cast<int32_t>(want.size()));
  EXPECT_TRUE(std::u16string(buffer, want.size()) == want);
  EXPECT_EQ(buffer[want.size()], 0);
  for (size_t i = want.size() + 1; i < 300; ++i) ASSERT_EQ(buffer[i], u'#') << i;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, PluginInfo,
    ::testing::Values(InfoCase{0, 256, "00IN"}, InfoCase{1, 256, "WPP to DIB by zurk"},
                      InfoCase{2, 256, "*.wpp"}, InfoCase{3, 256, "WPP file"},
                      InfoCase{1, 5, "WPP "}, InfoCase{1, 19, "WPP to DIB by zurk"},
                      InfoCase{1, 18, "WPP to DIB by zur"}, InfoCase{0, 1, ""},
                      InfoCase{4, 256, nullptr}, InfoCase{-1, 256, nullptr},
                      InfoCase{INT_MIN, 256, nullptr}, InfoCase{INT_MAX, 256, nullptr},
                      InfoCase{0, 0, nullptr}, InfoCase{0, -5, nullptr}));

TEST(PluginInfoNullBuffer, ReturnsZero) {
  EXPECT_EQ(Plugin().getPluginInfo(0, nullptr, 256), 0);
  EXPECT_EQ(Plugin().getPluginInfoW(0, nullptr, 256), 0);
}

TEST(Preview, IsNeverOffered) {
  BlockHandle info = reinterpret_cast<BlockHandle>(0x1234);
  BlockHandle bits = reinterpret_cast<BlockHandle>(0x5678);
  EXPECT_EQ(Plugin().getPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), NotImplemented);
  EXPECT_EQ(Plugin().getPreview("no such file", -7, 0xFFFFFFFF, &info, &bits, nullptr, 99),
            NotImplemented);
  EXPECT_EQ(Plugin().getPreviewW(u"no such file", -7, 0xFFFFFFFF, &info, &bits, nullptr, 99),
            NotImplemented);
  EXPECT_EQ(info, reinterpret_cast<BlockHandle>(0x1234));
  EXPECT_EQ(bits, reinterpret_cast<BlockHandle>(0x5678));
}

}  // namespace
