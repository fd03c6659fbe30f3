// The hook's allocation paths, steered through the platform layer.

#include "platform/posix/fault_injection.h"
#include "tests/support/bytes_and_files.h"
#include "wpp/wpp.h"

namespace {

class DecodeToDibAllocation : public ::testing::Test {
 protected:
  void SetUp() override { liveBefore = PlatformLiveBlocks(); }
  void TearDown() override {
    PlatformClearFaults();
    EXPECT_EQ(PlatformLiveBlocks(), liveBefore) << "a block was left behind";
  }
  uint32_t liveBefore = 0;
};

TEST_F(DecodeToDibAllocation, AFailedBlockLeavesNothingAndBothSlotsNull) {
  const testwpp::Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(6, 6));
  struct Case {
    const char* what;
    uint32_t failFirst;  // which allocation fails: 1 header, 2 bits
    bool both;
  } cases[] = {{"header block", 1, false}, {"bits block", 2, false}, {"both blocks", 1, true}};
  for (const Case& c : cases) {
    PlatformFailCall(PlatformCall::Alloc, c.failFirst);
    if (c.both) PlatformFailCall(PlatformCall::Any, 2);
    BlockHandle info = reinterpret_cast<BlockHandle>(1), bits = reinterpret_cast<BlockHandle>(1);
    EXPECT_EQ(
        DecodeToDib(static_cast<uint32_t>(image.size()), &info, &bits, nullptr, 0, image.data()),
        OutOfMemory)
        << c.what;
    EXPECT_EQ(info, nullptr) << c.what;
    EXPECT_EQ(bits, nullptr) << c.what;
    EXPECT_EQ(PlatformLiveBlocks(), liveBefore) << c.what;
    PlatformClearFaults();
  }
}

TEST_F(DecodeToDibAllocation, ABitsBlockPastThirtyTwoBitsIsOutOfMemory) {
  // An odd width pads every row, so dataLength can fit 32 bits while the
  // aligned rows and their 4-byte trailer do not. Nothing may be allocated or read.
  const struct {
    const char* what;
    uint16_t width, height;
  } cases[] = {
      {"far past the edge", 65535, 32768},
      // Rows of 0xFFFFFFFC bytes: the block would be exactly 2^32.
      {"one byte past the edge", 42965, 49981},
  };
  for (const auto& c : cases) {
    const uint32_t dataLength = 2u * c.width * c.height + 4;
    const testwpp::Bytes head = testwpp::HeaderOnly(dataLength, c.width, c.height);
    ASSERT_TRUE(CheckHeader(head.data())) << c.what;
    const uint32_t allocationsBefore = PlatformCallCount(PlatformCall::Alloc);
    BlockHandle info = reinterpret_cast<BlockHandle>(1), bits = reinterpret_cast<BlockHandle>(1);
    EXPECT_EQ(DecodeToDib(SIZE_MAX, &info, &bits, nullptr, 0, head.data()), OutOfMemory) << c.what;
    EXPECT_EQ(info, nullptr) << c.what;
    EXPECT_EQ(bits, nullptr) << c.what;
    EXPECT_EQ(PlatformCallCount(PlatformCall::Alloc), allocationsBefore) << c.what;
  }
}

TEST_F(DecodeToDibAllocation, ShortSourcesAreRefusedBeforeAnything) {
  const testwpp::Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(6, 6));
  BlockHandle info = nullptr, bits = nullptr;
  const uint32_t allocationsBefore = PlatformCallCount(PlatformCall::Alloc);
  EXPECT_EQ(
      DecodeToDib(static_cast<uint32_t>(image.size() - 1), &info, &bits, nullptr, 0, image.data()),
      UnsupportedFormat);
  EXPECT_EQ(PlatformCallCount(PlatformCall::Alloc), allocationsBefore);
  EXPECT_EQ(info, nullptr);
}

TEST(FillPictureInfo, AFailedTextBlockStillGivesTheRecord) {
  const testwpp::Bytes head = testwpp::HeaderOnly(2 * 3 * 4 + 4, 3, 4);
  PictureInfoRecord record;
  PlatformFailCall(PlatformCall::Alloc, 1);
  EXPECT_EQ(FillPictureInfo(&record, head.data()), Ok);
  PlatformClearFaults();
  EXPECT_EQ(record.textHandle, nullptr);
  EXPECT_EQ(record.width, 3u);
  EXPECT_EQ(record.height, 4u);
  EXPECT_EQ(record.bitsPerPixel, 16);
}

}  // namespace
