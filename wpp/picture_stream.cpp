// Reading a WPP picture as its bytes arrive.

#include "wpp/picture_stream.h"

#include <string.h>

#include "wpp/bytes.h"

namespace wpp {

const char* HeaderVerdictText(HeaderVerdict verdict) {
  switch (verdict) {
    case HeaderVerdict::Picture:
      return "a WPP image";
    case HeaderVerdict::ZeroSide:
      return "not a WPP image: its header gives a width or height of 0";
    case HeaderVerdict::WrongLength:
      return "not a WPP image: its header's length is not that of its width and height";
  }
  return "not a WPP image";
}

void StartPictureStream(PictureStream* stream) { *stream = PictureStream{}; }

size_t TakeHeader(PictureStream* stream, const uint8_t* bytes, size_t size) {
  const size_t wanted = kHeaderSize - stream->headerBytes;
  const size_t taken = size < wanted ? size : wanted;
  memcpy(stream->header + stream->headerBytes, bytes, taken);
  stream->headerBytes += static_cast<uint32_t>(taken);
  if (HeaderWhole(*stream)) stream->picture = ParseWppHeader(stream->header);
  return taken;
}

size_t TakePixels(PictureStream* stream, const uint8_t* bytes, size_t size, const RgbRows& rows) {
  const uint32_t width = stream->picture.width;
  size_t at = 0;
  while (at < size && !PixelsWhole(*stream)) {
    uint8_t* rgb = rows.first + stream->row * rows.stride + 3ull * stream->column;
    if (stream->haveLowByte) {
      // The pixel that the last piece cut in two.
      const uint8_t pixel[2] = {stream->lowByte, bytes[at++]};
      rows.expand(pixel, rgb, 1);
      stream->haveLowByte = false;
      stream->column += 1;
    } else {
      const uint64_t whole = (size - at) / 2;
      const uint32_t left = width - stream->column;
      const uint32_t count = whole < left ? static_cast<uint32_t>(whole) : left;
      if (count == 0) {
        stream->lowByte = bytes[at++];
        stream->haveLowByte = true;
        continue;
      }
      rows.expand(bytes + at, rgb, count);
      at += 2ull * count;
      stream->column += count;
    }
    if (stream->column == width) {
      stream->column = 0;
      stream->row += 1;
    }
  }
  return at;
}

}  // namespace wpp
