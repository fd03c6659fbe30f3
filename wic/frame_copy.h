// What the codec computes without COM: whether a stream's first bytes are a
// WPP picture it can decode, what the property handler says of it, and the plan of a CopyPixels
// call (the checks WIC's own decoders make, then which bytes of the picture go where). Plain
// functions, so the native builds test and fuzz them too.
#pragma once

#include <stdint.h>

namespace wic {

// How the first bytes of a stream describe a picture.
enum class StreamVerdict : uint8_t {
  Wpp,        // a WPP header whose pixels the stream holds in full
  NotWpp,     // fewer than 24 bytes, or a header CheckHeader refuses
  Truncated,  // a WPP header, but the stream ends before its last pixel
};

// head holds headBytes (at most 24 are read) from the picture's start, and
// the stream holds streamBytes from there on.
StreamVerdict JudgeStream(const uint8_t* head, uint32_t headBytes, uint64_t streamBytes);

// What Explorer is told of a picture: its sides, its bits a pixel and the
// two sides as the system's own image handler writes them, "640 x 480".
// Sides are 16-bit in a header, so "65535 x 65535" and its NUL fit.
constexpr uint32_t kDimensionsChars = 16;
constexpr uint32_t kBitsPerPixel = 16;  // RGB565, as GetPixelFormat says
struct PictureFacts {
  uint32_t width, height, bitDepth;
  char16_t dimensions[kDimensionsChars];
};
// The facts of the picture whose head and stream JudgeStream takes; false,
// and nothing filled, for anything but StreamVerdict::Wpp.
bool DescribePicture(const uint8_t* head, uint32_t headBytes, uint64_t streamBytes,
                     PictureFacts* facts);

// WICRect's fields.
struct FrameRect {
  int32_t x, y, width, height;
};

enum class CopyCheck : uint8_t {
  Copy,                // the plan says what to read
  Nothing,             // an empty rect: success, nothing read or written
  InvalidArgument,     // a rect outside the frame or a stride below its row
  InsufficientBuffer,  // the buffer is smaller than stride * (rows - 1) + row
};

// Which bytes a CopyPixels call reads and where they go. Offsets count from
// the picture's first byte (its header's first byte).
struct CopyPlan {
  uint64_t firstOffset;   // of the rect's top-left pixel
  uint64_t sourceStride;  // from one row of the picture to the next
  uint32_t rowBytes;      // of one row of the rect
  uint32_t rows;
  uint32_t stride;  // from one row of the buffer to the next
  // Rows next to each other in the picture and in the buffer: all in one read
  // of rowBytes * rows.
  bool oneRead;
};

// The plan for copying rect (null: the whole frame) of a width x height frame
// into a buffer of bufferSize bytes whose rows are stride apart. The plan is
// filled only for Copy.
CopyCheck PlanCopy(uint32_t width, uint32_t height, const FrameRect* rect, uint32_t stride,
                   uint32_t bufferSize, CopyPlan* plan);

// Reads count bytes at offset (from the picture's first byte) into
// destination; false when they cannot all be read.
using ReadAt = bool (*)(void* source, uint64_t offset, uint8_t* destination, uint32_t count);

// Carries out a plan into buffer, row by row or in one read; false at the
// first read that fails (the buffer then holds what came before it).
bool CopyRows(const CopyPlan& plan, ReadAt read, void* source, uint8_t* buffer);

}  // namespace wic
