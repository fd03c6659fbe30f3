// The WIC codec's plain computation: the input's first 24 bytes are a
// CopyPixels call (rect x, y, width, height, stride and buffer size, each
// 32-bit; a width of INT32_MIN asks for the whole frame), the rest the
// stream. A stream judged whole is described as the property handler tells
// it (its sides as the header gives them, in digits) and planned and copied: the copy reads
// nothing past the stream, writes nothing outside the buffer, brings each
// row's bytes as stored and leaves the bytes between rows alone.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wic/frame_copy.h"
#include "wpp/bytes.h"
#include "wpp/wpp.h"

namespace {

constexpr size_t kCallBytes = 24;
// Larger buffers are folded below this, so that no run takes long.
constexpr uint32_t kLargestBuffer = 1u << 22;
constexpr uint8_t kUntouched = 0xAB;

struct Stream {
  const uint8_t* bytes;
  size_t size;
};
bool ReadStream(void* source, uint64_t offset, uint8_t* destination, uint32_t count) {
  const auto* s = static_cast<const Stream*>(source);
  if (offset > s->size || count > s->size - offset) return false;
  memcpy(destination, s->bytes + offset, count);
  return true;
}

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "fuzz_frame_copy: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kCallBytes) return 0;
  // The stream in a block of its own size, so a read past it is caught.
  const size_t streamSize = size - kCallBytes;
  uint8_t* bytes = static_cast<uint8_t*>(malloc(streamSize + 1));
  memcpy(bytes, data + kCallBytes, streamSize);
  const Stream stream = {bytes, streamSize};
  const uint32_t headBytes = streamSize < wpp::kHeaderSize ? streamSize : wpp::kHeaderSize;
  if (wic::JudgeStream(bytes, headBytes, streamSize) != wic::StreamVerdict::Wpp) {
    free(bytes);
    return 0;
  }
  const WppHeader header = ParseWppHeader(bytes);
  wic::PictureFacts facts;
  char want[wic::kDimensionsChars];
  snprintf(want, sizeof want, "%u x %u", header.width, header.height);
  if (!wic::DescribePicture(bytes, headBytes, streamSize, &facts) || facts.width != header.width ||
      facts.height != header.height)
    Fail("a whole picture described wrong");
  for (size_t i = 0; i < sizeof want; ++i) {
    if (facts.dimensions[i] != static_cast<unsigned char>(want[i]))
      Fail("dimensions not as printed");
    if (want[i] == '\0') break;
  }
  const wic::FrameRect rect = {static_cast<int32_t>(wpp::LoadLe32(data)),
                               static_cast<int32_t>(wpp::LoadLe32(data + 4)),
                               static_cast<int32_t>(wpp::LoadLe32(data + 8)),
                               static_cast<int32_t>(wpp::LoadLe32(data + 12))};
  const bool whole = rect.width == INT32_MIN;
  const uint32_t stride = wpp::LoadLe32(data + 16);
  const uint32_t bufferSize = wpp::LoadLe32(data + 20) % kLargestBuffer;
  wic::CopyPlan plan;
  if (wic::PlanCopy(header.width, header.height, whole ? nullptr : &rect, stride, bufferSize,
                    &plan) == wic::CopyCheck::Copy) {
    uint8_t* buffer = static_cast<uint8_t*>(malloc(bufferSize));
    memset(buffer, kUntouched, bufferSize);
    if (!wic::CopyRows(plan, ReadStream, const_cast<Stream*>(&stream), buffer))
      Fail("a planned copy read past a whole stream");
    for (uint32_t row = 0; row < plan.rows; ++row) {
      const uint8_t* have = buffer + uint64_t{plan.stride} * row;
      if (memcmp(have, bytes + plan.firstOffset + plan.sourceStride * row, plan.rowBytes) != 0)
        Fail("a row not as stored");
      const uint64_t end = row + 1 < plan.rows ? plan.stride : plan.rowBytes;
      for (uint64_t i = plan.rowBytes; i < end; ++i)
        if (have[i] != kUntouched) Fail("a byte between rows written");
    }
    free(buffer);
  }
  free(bytes);
  return 0;
}
