#include <string.h>

#include "tests/support/plugin_under_test.h"

using testwpp::Bytes;
using testwpp::HeaderOnly;

namespace {

// Hands the plug-in exactly these bytes, ending at a page's end, so a read
// past them faults.
int32_t SupportedInMemory(const Bytes& head) {
  const testwpp::PageEndCopy exact(head);
  const int32_t supported = Plugin().isSupported("name is never read", exact.data());
  // The wide twin is the very same test.
  EXPECT_EQ(Plugin().isSupportedW(u"name is never read", exact.data()), supported);
  return supported;
}

struct HeaderCase {
  const char* what;
  uint32_t dataLength, width, height;
  int32_t want;
};
void PrintTo(const HeaderCase& c, std::ostream* out) {
  *out << c.what << " (" << c.width << "x" << c.height << ", length " << c.dataLength << ")";
}

class HeaderRules : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderRules, DecideRecognition) {
  const HeaderCase& c = GetParam();
  for (uint8_t prefix : {0x00, 0xFF, 0x5A}) {
    EXPECT_EQ(SupportedInMemory(HeaderOnly(c.dataLength, c.width, c.height, prefix)), c.want)
        << c.what << ", prefix byte " << int{prefix};
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderRules,
    ::testing::Values(HeaderCase{"1x1", 6, 1, 1, 1}, HeaderCase{"320x240", 153604, 320, 240, 1},
                      HeaderCase{"length one short", 153603, 320, 240, 0},
                      HeaderCase{"length one long", 153605, 320, 240, 0},
                      HeaderCase{"zero width", 4, 0, 240, 0},
                      HeaderCase{"zero height", 4, 320, 0, 0},
                      HeaderCase{"zero length", 0, 0, 0, 0},
                      HeaderCase{"sum wraps past 32 bits", 65538, 65535, 32769, 0},
                      HeaderCase{"largest exact sum", 4294901764u, 65535, 32768, 1},
                      HeaderCase{"65535 square, wrapped sum", 4294705158u, 65535, 65535, 0},
                      HeaderCase{"65535 square, low word", 0xFFFE0005u, 65535, 65535, 0},
                      HeaderCase{"65535 square, all ones", 0xFFFFFFFFu, 65535, 65535, 0}));

// 24 bytes and not one more: a host may hand over a short head.
TEST(IsSupported, ReadsOnlyTheHeadItNeedsFromAnAddress) {
  EXPECT_EQ(SupportedInMemory(HeaderOnly(6, 1, 1)), 1);
}

// A handle opened as a viewer opens it; closed by the test, never by the plug-in.
struct OpenFile {
  explicit OpenFile(const char* path)
      : handle(
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~OpenFile() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  const void* source() const { return handle; }
  DWORD position() const { return SetFilePointer(handle, 0, nullptr, FILE_CURRENT); }
  HANDLE handle;
};

TEST(IsSupported, ReadsTwoThousandBytesFromAHandleAndLeavesItOpen) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(64, 64));  // 8216 bytes
  testwpp::TempFile file(image);
  OpenFile open(file.path());
  ASSERT_NE(open.handle, INVALID_HANDLE_VALUE);
  ASSERT_LT(reinterpret_cast<uintptr_t>(open.source()), 65536u);
  EXPECT_EQ(Plugin().isSupported(file.path(), open.source()), 1);
  EXPECT_EQ(open.position(), 2000u) << "the handle was moved by more than the read";
  // Still open: a second read goes on from there.
  EXPECT_EQ(Plugin().isSupported(file.path(), open.source()), 0);
  EXPECT_EQ(open.position(), 4000u);
}

TEST(IsSupported, TestsTheBytesWhereTheHandleStands) {
  Bytes container(100, 0xEE);
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(3, 5));
  container.insert(container.end(), image.begin(), image.end());
  testwpp::TempFile file(container);
  OpenFile open(file.path());
  EXPECT_EQ(Plugin().isSupported(nullptr, open.source()), 0);
  SetFilePointer(open.handle, 100, nullptr, FILE_BEGIN);
  EXPECT_EQ(Plugin().isSupported(nullptr, open.source()), 1);
}

TEST(IsSupported, RefusesAHandleThatDeliversLessThanAHeader) {
  Bytes head = HeaderOnly(6, 1, 1);
  for (size_t size : {0, 1, 16, 23}) {
    testwpp::TempFile file(Bytes(head.begin(), head.begin() + size));
    OpenFile open(file.path());
    EXPECT_EQ(Plugin().isSupported(nullptr, open.source()), 0) << size << " bytes";
  }
  // A file of exactly one header, whose header claims a whole image, is
  // recognised: the support test reads the header alone.
  testwpp::TempFile file(head);
  OpenFile open(file.path());
  EXPECT_EQ(Plugin().isSupported(nullptr, open.source()), 1);
}

TEST(IsSupported, TreatsSmallValuesAsHandlesThatMayFailToRead) {
  // No handle here has these values: the read fails and the answer is 0.
  for (uintptr_t source : {0u, 1u, 0xFFFCu, 0xFFFFu})
    EXPECT_EQ(Plugin().isSupported(nullptr, reinterpret_cast<const void*>(source)), 0) << source;
}

// 65536 is the first value taken as an address. At 64 bits, so is any value
// from 4 GiB on whose low 32 bits are zero: a host value cut to 32 bits would
// be handle 0. (Sanitizers keep some ranges for themselves, hence choices.)
TEST(IsSupported, TakesEveryValueFromSixtyFiveThousandFiveHundredThirtySixAsAnAddress) {
  std::vector<std::vector<uint64_t>> places = {{0x10000}};
  if (sizeof(void*) == 8) places.push_back({uint64_t{1} << 32, 0x500000000000, 0x600000000000});
  const Bytes head = HeaderOnly(6, 1, 1);
  for (const auto& choices : places) {
    void* page = nullptr;  // at the first of the choices that can be had here
    for (size_t i = 0; page == nullptr && i < choices.size(); ++i)
      if (choices[i] <= UINTPTR_MAX)
        page = testwpp::MapPages(4096, reinterpret_cast<void*>(static_cast<uintptr_t>(choices[i])));
    if (page == nullptr) {
      // Low memory may be kept back by the system; there is room above 4 GiB.
      if (choices[0] < (uint64_t{1} << 32))
        printf("note: address 0x%llx cannot be mapped here\n",
               static_cast<unsigned long long>(choices[0]));
      else
        ADD_FAILURE() << "no page above 4 GiB can be mapped here";
      continue;
    }
    memcpy(page, head.data(), head.size());
    EXPECT_EQ(Plugin().isSupported(nullptr, page), 1) << page;
    testwpp::UnmapPages(page, 4096);
  }
}

}  // namespace
