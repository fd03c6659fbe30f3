// The codec's plain computation: recognition, the property handler's facts,
// and CopyPixels' checks and plan.

#include "wic/frame_copy.h"

#include "wpp/wpp.h"

namespace wic {

StreamVerdict JudgeStream(const uint8_t* head, uint32_t headBytes, uint64_t streamBytes) {
  if (headBytes < wpp::kHeaderSize || !CheckHeader(head)) return StreamVerdict::NotWpp;
  return streamBytes < ImageByteCount(head) ? StreamVerdict::Truncated : StreamVerdict::Wpp;
}

namespace {

// Writes value's decimal digits at out; returns their end.
char16_t* PutDecimal(uint32_t value, char16_t* out) {
  char16_t reversed[10];  // 4294967295
  int count = 0;
  do {
    reversed[count++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = reversed[--count];
  return out;
}

}  // namespace

bool DescribePicture(const uint8_t* head, uint32_t headBytes, uint64_t streamBytes,
                     PictureFacts* facts) {
  if (JudgeStream(head, headBytes, streamBytes) != StreamVerdict::Wpp) return false;
  const WppHeader header = ParseWppHeader(head);
  facts->width = header.width;
  facts->height = header.height;
  facts->bitDepth = kBitsPerPixel;
  char16_t* out = PutDecimal(header.width, facts->dimensions);
  *out++ = u' ';
  *out++ = u'x';
  *out++ = u' ';
  *PutDecimal(header.height, out) = u'\0';
  return true;
}

CopyCheck PlanCopy(uint32_t width, uint32_t height, const FrameRect* rect, uint32_t stride,
                   uint32_t bufferSize, CopyPlan* plan) {
  const FrameRect whole = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  const FrameRect& r = rect != nullptr ? *rect : whole;
  // In 64 bits, so no sum of 32-bit fields wraps into the frame.
  if (r.x < 0 || r.y < 0 || r.width < 0 || r.height < 0 ||
      int64_t{r.x} + r.width > int64_t{width} || int64_t{r.y} + r.height > int64_t{height})
    return CopyCheck::InvalidArgument;
  if (r.width == 0 || r.height == 0) return CopyCheck::Nothing;
  const uint32_t rowBytes = 2 * static_cast<uint32_t>(r.width);  // at most 2 * 65535
  if (stride < rowBytes) return CopyCheck::InvalidArgument;
  if (uint64_t{stride} * static_cast<uint32_t>(r.height - 1) + rowBytes > bufferSize)
    return CopyCheck::InsufficientBuffer;
  plan->sourceStride = 2ull * width;
  plan->firstOffset = wpp::kPixelsOffset + plan->sourceStride * static_cast<uint32_t>(r.y) +
                      2ull * static_cast<uint32_t>(r.x);
  plan->rowBytes = rowBytes;
  plan->rows = static_cast<uint32_t>(r.height);
  plan->stride = stride;
  plan->oneRead = stride == rowBytes && rowBytes == plan->sourceStride;
  return CopyCheck::Copy;
}

bool CopyRows(const CopyPlan& plan, ReadAt read, void* source, uint8_t* buffer) {
  // The buffer's check bounds stride * rows, so one read's count fits 32 bits.
  if (plan.oneRead) return read(source, plan.firstOffset, buffer, plan.rowBytes * plan.rows);
  for (uint32_t row = 0; row < plan.rows; ++row) {
    if (!read(source, plan.firstOffset + plan.sourceStride * row,
              buffer + uint64_t{plan.stride} * row, plan.rowBytes))
      return false;
  }
  return true;
}

}  // namespace wic
