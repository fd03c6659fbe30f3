#include <string.h>

#include <climits>

#include "tests/support/plugin_under_test.h"

namespace {

struct InfoCase {
  int32_t index;
  int32_t bufferLength;
  const char* want;  // null: the call must return 0 and leave the buffer alone
};
void PrintTo(const InfoCase& c, std::ostream* out) {
  *out << "index " << c.index << ", buffer " << c.bufferLength << ", want "
       << (c.want != nullptr ? c.want : "nothing");
}

class PluginInfo : public ::testing::TestWithParam<InfoCase> {};

// Both twins by the same rules: the wide one copies the same strings in
// UTF-16, counted in UTF-16 units. Nothing is written past the terminator.
template <typename Char, typename Get>
void ExpectCopy(const InfoCase& c, Get get) {
  Char buffer[300];
  for (Char& unit : buffer) unit = '#';
  const int32_t length = get(c.index, buffer, c.bufferLength);
  if (c.want == nullptr) {
    EXPECT_EQ(length, 0);
    for (Char unit : buffer) ASSERT_EQ(unit, '#') << "the buffer was touched";
    return;
  }
  const size_t size = strlen(c.want);
  EXPECT_EQ(length, static_cast<int32_t>(size));
  for (size_t i = 0; i <= size; ++i) ASSERT_EQ(buffer[i], i < size ? c.want[i] : 0) << i;
  for (size_t i = size + 1; i < 300; ++i) ASSERT_EQ(buffer[i], '#') << i;
}

TEST_P(PluginInfo, CopiesTheShortenedStringAndReturnsItsLength) {
  ExpectCopy<char>(GetParam(), Plugin().getPluginInfo);
}

TEST_P(PluginInfo, CopiesTheSameStringInUtf16) {
  ExpectCopy<char16_t>(GetParam(), Plugin().getPluginInfoW);
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
