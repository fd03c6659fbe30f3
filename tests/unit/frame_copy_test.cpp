// The WIC codec's plain computation: recognition of a stream's head, and
// CopyPixels' checks, plan and copy, against a reading of the picture's
// bytes made here.

#include "wic/frame_copy.h"

#include <string>

#include "tests/support/bytes_and_files.h"
#include "wpp/bytes.h"

namespace {

using wic::CopyCheck;
using wic::FrameRect;

TEST(FrameCopy, JudgesAStreamByItsHeadAndItsLength) {
  const testwpp::Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(5, 3));
  const uint32_t size = static_cast<uint32_t>(image.size());
  EXPECT_EQ(wic::JudgeStream(image.data(), 24, size), wic::StreamVerdict::Wpp);
  EXPECT_EQ(wic::JudgeStream(image.data(), 24, size + 100), wic::StreamVerdict::Wpp);
  EXPECT_EQ(wic::JudgeStream(image.data(), 24, size - 1), wic::StreamVerdict::Truncated);
  EXPECT_EQ(wic::JudgeStream(image.data(), 23, 23), wic::StreamVerdict::NotWpp);
  testwpp::Bytes wrong = image;
  wrong[16] += 2;  // dataLength no longer 2 * w * h + 4
  EXPECT_EQ(wic::JudgeStream(wrong.data(), 24, size), wic::StreamVerdict::NotWpp);
}

TEST(FrameCopy, DescribesWhatTheStreamHoldsInWindowsOwnForm) {
  const struct {
    uint16_t width, height;
    const char16_t* dimensions;
  } cases[] = {{1, 1, u"1 x 1"},
               {640, 480, u"640 x 480"},
               {317, 211, u"317 x 211"},
               {10, 65535, u"10 x 65535"},
               {65535, 7, u"65535 x 7"}};
  for (const auto& c : cases) {
    testwpp::Bytes image(24 + 2 * c.width * c.height);
    wpp::StoreLe32(image.data() + 16, 2 * c.width * c.height + 4);
    wpp::StoreLe16(image.data() + 20, c.width);
    wpp::StoreLe16(image.data() + 22, c.height);
    wic::PictureFacts facts;
    ASSERT_TRUE(wic::DescribePicture(image.data(), 24, image.size(), &facts)) << c.width;
    EXPECT_EQ(facts.width, c.width);
    EXPECT_EQ(facts.height, c.height);
    EXPECT_EQ(facts.bitDepth, 16u);
    EXPECT_TRUE(std::u16string(facts.dimensions) == c.dimensions) << c.width << "x" << c.height;
    // A stream cut short, a head cut short, a header refused: nothing.
    EXPECT_FALSE(wic::DescribePicture(image.data(), 24, image.size() - 1, &facts));
    EXPECT_FALSE(wic::DescribePicture(image.data(), 23, image.size(), &facts));
    image[16] ^= 2;
    EXPECT_FALSE(wic::DescribePicture(image.data(), 24, image.size(), &facts));
  }
}

TEST(FrameCopy, RefusesWhatWicsDecodersRefuse) {
  // A 6 x 5 frame: rows of 12 bytes.
  const struct {
    const char* what;
    FrameRect rect;
    uint32_t stride, size;
    CopyCheck want;
  } cases[] = {
      {"the whole frame, tight", {0, 0, 6, 5}, 12, 60, CopyCheck::Copy},
      {"a last row one byte short of a full stride", {0, 0, 6, 5}, 13, 64, CopyCheck::Copy},
      {"a buffer one byte short", {0, 0, 6, 5}, 12, 59, CopyCheck::InsufficientBuffer},
      {"strides past 32 bits", {0, 0, 6, 5}, 0xFFFFFFFF, 0xFFFFFFFF, CopyCheck::InsufficientBuffer},
      {"a stride below the row", {0, 0, 6, 5}, 11, 60, CopyCheck::InvalidArgument},
      {"left of the frame", {-1, 0, 1, 1}, 2, 2, CopyCheck::InvalidArgument},
      {"above the frame", {0, -1, 1, 1}, 2, 2, CopyCheck::InvalidArgument},
      {"past the right edge", {5, 0, 2, 1}, 4, 4, CopyCheck::InvalidArgument},
      {"past the bottom", {0, 4, 1, 2}, 2, 4, CopyCheck::InvalidArgument},
      {"a negative width", {0, 0, -1, 1}, 2, 2, CopyCheck::InvalidArgument},
      {"a negative height", {0, 0, 1, -1}, 2, 2, CopyCheck::InvalidArgument},
      {"x + width wrapping 32 bits", {0x7FFFFFFF, 0, 2, 1}, 4, 4, CopyCheck::InvalidArgument},
      {"y + height wrapping 32 bits", {0, 0x7FFFFFFF, 1, 2}, 2, 4, CopyCheck::InvalidArgument},
      {"an empty rect", {6, 5, 0, 0}, 0, 0, CopyCheck::Nothing},
  };
  for (const auto& c : cases) {
    wic::CopyPlan plan;
    EXPECT_EQ(wic::PlanCopy(6, 5, &c.rect, c.stride, c.size, &plan), c.want) << c.what;
  }
}

// Reads from the picture's bytes, counting the reads.
struct Memory {
  const testwpp::Bytes* bytes;
  uint32_t reads;
};
bool ReadMemory(void* source, uint64_t offset, uint8_t* destination, uint32_t count) {
  auto* m = static_cast<Memory*>(source);
  ++m->reads;
  if (offset + count > m->bytes->size()) return false;
  memcpy(destination, m->bytes->data() + offset, count);
  return true;
}

TEST(FrameCopy, CopiesEachRectAsStoredInTheFewestReads) {
  const testwpp::Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(7, 5));
  const struct {
    FrameRect rect;
    uint32_t stride, reads;
  } cases[] = {{{0, 0, 7, 5}, 14, 1}, {{0, 0, 7, 5}, 16, 5}, {{0, 4, 7, 1}, 14, 1},
               {{6, 0, 1, 5}, 2, 5},  {{6, 4, 1, 1}, 2, 1},  {{2, 1, 3, 3}, 6, 3}};
  for (const auto& c : cases) {
    wic::CopyPlan plan;
    const uint32_t size = c.stride * (c.rect.height - 1) + 2 * c.rect.width;
    ASSERT_EQ(wic::PlanCopy(7, 5, &c.rect, c.stride, size, &plan), CopyCheck::Copy);
    testwpp::Bytes buffer(size, 0xAB), want(size, 0xAB);
    for (int32_t y = 0; y < c.rect.height; ++y)
      memcpy(want.data() + y * c.stride, image.data() + 24 + 2 * ((c.rect.y + y) * 7 + c.rect.x),
             2 * c.rect.width);
    Memory memory = {&image, 0};
    EXPECT_TRUE(wic::CopyRows(plan, ReadMemory, &memory, buffer.data()));
    EXPECT_TRUE(testwpp::SameBytes(buffer, want)) << c.rect.x << "," << c.rect.y;
    EXPECT_EQ(memory.reads, c.reads) << c.rect.x << "," << c.rect.y;
  }
  // A null rect is the whole frame; a failed read fails the copy.
  wic::CopyPlan plan;
  ASSERT_EQ(wic::PlanCopy(7, 5, nullptr, 14, 70, &plan), CopyCheck::Copy);
  EXPECT_TRUE(plan.oneRead);
  const testwpp::Bytes shortImage(image.begin(), image.end() - 1);
  Memory memory = {&shortImage, 0};
  testwpp::Bytes buffer(70);
  EXPECT_FALSE(wic::CopyRows(plan, ReadMemory, &memory, buffer.data()));
}

}  // namespace
