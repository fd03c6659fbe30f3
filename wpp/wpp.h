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

// Reads bytes 16 to 23 of image into a WppHeader.
WppHeader ParseWppHeader(const uint8_t* image);

// True when bytes 16 to 23 describe an image: dataLength, width and height
// non-zero and dataLength exactly 2*width*height + 4 (computed in 64 bits, so
// it never wraps). Reads nothing else and has no side effects.
bool CheckHeader(const uint8_t* image);

// How many bytes the accepted image at image occupies: 20 + dataLength, the
// header and every pixel. Reads bytes 16 to 19 only.
uint64_t ImageByteCount(const uint8_t* image);

// Fills every byte of the host's record for an accepted image, with a new
// zero-filled 256-byte text block that the host then owns. Always Ok: if the text block cannot be
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
PluginResult DecodeToDib(size_t available, BlockHandle* infoSlot, BlockHandle* bitsSlot,
                         ProgressProc progress, intptr_t userData, const uint8_t* image);
