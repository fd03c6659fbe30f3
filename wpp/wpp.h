// The WPP format back end behind three hooks. It never touches files: it sees
// one contiguous image in memory that begins with the WPP header.
//
// A WPP image, every field little-endian:
//   offset  size  field
//     0     16    prefix      any bytes, never examined
//    16      4    dataLength  bytes from offset 20 to the end of the pixels:
//                             2 * width * height + 4
//    20      2    width       pixels per row, 1..65535
//    22      2    height      rows, 1..65535
//    24    2*w*h  pixels      top row first, left to right; each a 16-bit
//                             RGB565 value (red 15-11, green 10-5, blue 4-0)
// So an image occupies exactly 20 + dataLength bytes; nothing after it is read.
#pragma once

#include <stdint.h>

#include "plugin/plugin.h"

namespace wpp {

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kDataLengthOffset = 16;
constexpr uint32_t kWidthOffset = 20;
constexpr uint32_t kHeightOffset = 22;
constexpr uint32_t kPixelsOffset = 24;
// dataLength counts from here, so an image is this plus dataLength bytes.
constexpr uint32_t kDataLengthBase = 20;

}  // namespace wpp

// The header as a plain record, parsed from bytes with explicit loads.
struct WppHeader {
  uint32_t dataLength;
  uint16_t width;
  uint16_t height;
};

// The host's picture information record: 26 bytes, packed, little-endian.
// textHandle sits at offset 22, unaligned.
struct __attribute__((packed)) PictureInfoRecord {
  int32_t offsetX;
  int32_t offsetY;
  uint32_t width;
  uint32_t height;
  int16_t densityX;
  int16_t densityY;
  int16_t bitsPerPixel;
  void* textHandle;
};
static_assert(sizeof(PictureInfoRecord) == 26, "the host's record is 26 bytes");
static_assert(__builtin_offsetof(PictureInfoRecord, offsetX) == 0, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, offsetY) == 4, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, width) == 8, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, height) == 12, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, densityX) == 16, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, densityY) == 18, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, bitsPerPixel) == 20, "record layout");
static_assert(__builtin_offsetof(PictureInfoRecord, textHandle) == 22, "record layout");

// Reads bytes 16 to 23 of image into a WppHeader.
WppHeader ParseWppHeader(const uint8_t* image);

// True when bytes 16 to 23 describe an image: dataLength, width and height
// non-zero and dataLength exactly 2*width*height + 4 (computed in 64 bits, so
// it never wraps). Reads nothing else and has no side effects.
bool CheckHeader(const uint8_t* image);

// Fills the host's record for an accepted image, with a new 256-byte text
// block that the host then owns. Always Ok: if the text block cannot be
// allocated, textHandle is null and the other fields are filled as usual.
PluginResult FillPictureInfo(PictureInfoRecord* info, const uint8_t* image);

// Converts an accepted image to a bottom-up 16-bit DIB in two new blocks,
// stored in the host's slots. available is the count of bytes at hand from
// image on. Returns:
//   UnsupportedFormat  fewer than 20 + dataLength bytes at hand; no progress
//                      call, nothing allocated, slots untouched
//   Aborted            the first progress call said stop (nothing allocated,
//                      slots untouched) or the last one did (both filled
//                      blocks in the slots, owned by the host)
//   OutOfMemory        a block could not be had; none stays, both slots null
//   Ok                 the host owns both blocks
PluginResult DecodeToDib(uint32_t available, BlockHandle* infoSlot, BlockHandle* bitsSlot,
                         ProgressProc progress, int32_t userData, const uint8_t* image);
