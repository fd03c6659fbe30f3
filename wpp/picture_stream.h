// A WPP picture read from bytes that arrive in pieces of any size, for the
// desktop fronts: the header, judged with a reason, then the pixels expanded
// into 8-bit RGB rows as they come. Nothing is held but the header and half a
// pixel, nothing is read past the bytes given, and nothing after the
// picture's last pixel is taken.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "wpp/convert_rows.h"
#include "wpp/wpp.h"

namespace wpp {

// What a whole header says: a picture, or why it is none.
enum class HeaderVerdict : uint8_t {
  Picture,
  ZeroSide,     // a width or height of 0
  WrongLength,  // dataLength is not 2 * width * height + 4
};
// Bytes 16 to 23 of header judged; CheckHeader is this, as a yes or no.
HeaderVerdict JudgeHeader(const uint8_t* header);
// A sentence saying why, for a front's error message.
const char* HeaderVerdictText(HeaderVerdict verdict);

struct PictureStream {
  uint8_t header[kHeaderSize];
  uint32_t headerBytes;  // of header, so far
  WppHeader picture;     // once the header is whole
  uint32_t row;          // the next pixel's row and column
  uint32_t column;
  bool haveLowByte;  // a pixel's first byte arrived without its second
  uint8_t lowByte;
};

// A stream at its first byte.
void StartPictureStream(PictureStream* stream);

// Takes header bytes until the header is whole (and parsed into picture);
// returns how many of size it took.
size_t TakeHeader(PictureStream* stream, const uint8_t* bytes, size_t size);
inline bool HeaderWhole(const PictureStream& stream) { return stream.headerBytes == kHeaderSize; }

// The rows of a picture, each 3 * width bytes of RGB, stride bytes apart.
struct RgbRows {
  uint8_t* first;
  uint64_t stride;
  RowConverter expand;  // RowExpanderFor a path this CPU runs
};

// For a stream whose header is a picture: expands the pixels in bytes into
// rows and returns how many bytes it took, no more than the picture has left.
size_t TakePixels(PictureStream* stream, const uint8_t* bytes, size_t size, const RgbRows& rows);
inline bool PixelsWhole(const PictureStream& stream) {
  return HeaderWhole(stream) && stream.row == stream.picture.height;
}

}  // namespace wpp
