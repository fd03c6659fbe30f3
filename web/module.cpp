// The WebAssembly module behind the web page and the npm package: wpp/'s
// stream reader and row expansion for decoding, and its writer's header and
// rounding for encoding, behind a small C ABI that codec.js calls. It has no
// imports and keeps nothing between calls but what each decoder holds.
//
// A decoder reads a picture in bands of rows: the caller copies each band of
// the file into the decoder's input and copies the RGBA rows out, so the
// module's memory stays a few hundred KiB whatever the picture's size (a
// WebAssembly memory never shrinks).

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "wpp/convert_rows.h"
#include "wpp/picture_stream.h"
#include "wpp/picture_writer.h"

#define MODULE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

// The RGBA band a decoder fills between two copies: large enough that a call
// per band costs nothing, small enough to stay in the cache.
constexpr uint64_t kBandBytes = 256 * 1024;
constexpr uint32_t kReasonSize = 160;
constexpr uint8_t kOpaque = 255;

// A reason built of text and numbers, always terminated.
struct Reason {
  char text[kReasonSize];
  uint32_t length;

  Reason& operator<<(const char* part) {
    while (*part != '\0' && length + 1 < kReasonSize) text[length++] = *part++;
    text[length] = '\0';
    return *this;
  }
  Reason& operator<<(uint64_t number) {
    char digits[21];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    char part[21];
    for (int i = 0; i < count; ++i) part[i] = digits[count - 1 - i];
    part[count] = '\0';
    return *this << static_cast<const char*>(part);
  }
};

struct Decoder {
  wpp::PictureStream stream;
  wpp::RgbRows rows;
  uint32_t bandRows;
  uint8_t* input;  // a band of the file's rows, or its header
  uint8_t* rgba;   // the band's pixels, 4 bytes each
  Reason reason;
};

// One expanded row's RGB into RGBA, opaque.
void WidenRow(const uint8_t* rgb, uint8_t* rgba, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) {
    rgba[4 * i] = rgb[3 * i];
    rgba[4 * i + 1] = rgb[3 * i + 1];
    rgba[4 * i + 2] = rgb[3 * i + 2];
    rgba[4 * i + 3] = kOpaque;
  }
}

}  // namespace

MODULE_EXPORT(alloc) void* Allocate(uint32_t size) { return malloc(size); }
MODULE_EXPORT(release) void Release(void* block) { free(block); }

// A decoder whose input holds a header's bytes; null without the memory.
MODULE_EXPORT(decoder_new) Decoder* NewDecoder() {
  auto* decoder = static_cast<Decoder*>(calloc(1, sizeof(Decoder)));
  if (decoder == nullptr) return nullptr;
  wpp::StartPictureStream(&decoder->stream);
  decoder->input = static_cast<uint8_t*>(malloc(wpp::kHeaderSize));
  if (decoder->input != nullptr) return decoder;
  free(decoder);
  return nullptr;
}

MODULE_EXPORT(decoder_free) void FreeDecoder(Decoder* decoder) {
  if (decoder == nullptr) return;
  free(decoder->input);
  free(decoder->rows.first);
  free(decoder->rgba);
  free(decoder);
}

MODULE_EXPORT(decoder_input) uint8_t* DecoderInput(Decoder* decoder) { return decoder->input; }
MODULE_EXPORT(decoder_reason) const char* DecoderReason(Decoder* decoder) {
  return decoder->reason.text;
}
MODULE_EXPORT(decoder_width) uint32_t DecoderWidth(Decoder* decoder) {
  return decoder->stream.picture.width;
}
MODULE_EXPORT(decoder_height) uint32_t DecoderHeight(Decoder* decoder) {
  return decoder->stream.picture.height;
}
MODULE_EXPORT(decoder_band_rows) uint32_t DecoderBandRows(Decoder* decoder) {
  return decoder->bandRows;
}
MODULE_EXPORT(decoder_rgba) uint8_t* DecoderRgba(Decoder* decoder) { return decoder->rgba; }

// Judges the header whose first given bytes (at most 24) are in the input,
// of a file of total bytes (a double, exact to 2^53). True when the picture
// is whole in the file and the decoder is ready for its rows, the input
// then taking a band of them; false with a reason.
MODULE_EXPORT(decoder_begin) bool BeginDecoder(Decoder* decoder, uint32_t given, double total) {
  Reason& reason = decoder->reason;
  wpp::TakeHeader(&decoder->stream, decoder->input,
                  given < wpp::kHeaderSize ? given : wpp::kHeaderSize);
  if (!wpp::HeaderWhole(decoder->stream)) {
    const uint32_t got = decoder->stream.headerBytes;
    reason << "truncated WPP image: the data ends " << got << (got == 1 ? " byte" : " bytes")
           << " into its " << wpp::kHeaderSize << "-byte header";
    return false;
  }
  const wpp::HeaderVerdict verdict = wpp::JudgeHeader(decoder->stream.header);
  if (verdict != wpp::HeaderVerdict::Picture) {
    reason << wpp::HeaderVerdictText(verdict);
    return false;
  }
  const WppHeader& picture = decoder->stream.picture;
  const uint64_t pictureBytes = ImageByteCount(decoder->stream.header);
  if (total < static_cast<double>(pictureBytes)) {
    reason << "truncated WPP image: the file holds " << static_cast<uint64_t>(total)
           << " bytes of the " << pictureBytes << " its " << picture.width << " x "
           << picture.height << " header gives";
    return false;
  }
  const uint64_t rgbaRow = 4ull * picture.width;
  decoder->bandRows = static_cast<uint32_t>(kBandBytes > rgbaRow ? kBandBytes / rgbaRow : 1);
  if (decoder->bandRows > picture.height) decoder->bandRows = picture.height;
  free(decoder->input);
  decoder->input = static_cast<uint8_t*>(malloc(2ull * picture.width * decoder->bandRows));
  decoder->rgba = static_cast<uint8_t*>(malloc(rgbaRow * decoder->bandRows));
  // Every row is expanded into the same RGB row (stride 0) and widened from there.
  decoder->rows = {static_cast<uint8_t*>(malloc(3ull * picture.width)), 0,
                   wpp::RowExpanderFor(wpp::PickExpandPath())};
  if (decoder->input == nullptr || decoder->rgba == nullptr || decoder->rows.first == nullptr) {
    reason << "not enough memory for a " << picture.width << " x " << picture.height
           << " WPP image";
    return false;
  }
  return true;
}

// Expands count whole rows from the input into the RGBA band; count is at
// most the band's rows and the rows the picture has left.
MODULE_EXPORT(decoder_rows) void DecodeRows(Decoder* decoder, uint32_t count) {
  const uint32_t width = decoder->stream.picture.width;
  for (uint32_t row = 0; row < count && !wpp::PixelsWhole(decoder->stream); ++row) {
    wpp::TakePixels(&decoder->stream, decoder->input + 2ull * width * row, 2ull * width,
                    decoder->rows);
    WidenRow(decoder->rows.first, decoder->rgba + 4ull * width * row, width);
  }
}

// Writes the header of a width x height picture into header (24 bytes, the
// free ones zero); null, or why no WPP image has that size.
MODULE_EXPORT(encode_header)
const char* EncodeHeader(uint8_t* header, uint32_t width, uint32_t height, Reason* reason) {
  const uint64_t dataLength = wpp::DataLengthFor(width, height);
  if (width == 0 || height == 0 || width > wpp::kLargestSide || height > wpp::kLargestSide ||
      dataLength > wpp::kLargestDataLength) {
    reason->length = 0;
    *reason << "a " << width << " x " << height
            << " picture cannot be a WPP image: each side is 1 to 65535 pixels, and the pixels at "
               "most 4 GiB";
    return reason->text;
  }
  memset(header, 0, wpp::kDataLengthOffset);
  wpp::StoreHeaderFields(header, static_cast<uint32_t>(dataLength), static_cast<uint16_t>(width),
                         static_cast<uint16_t>(height));
  return nullptr;
}
MODULE_EXPORT(reason_size) uint32_t ReasonSize() { return sizeof(Reason); }

// count RGBA pixels into RGB565, little-endian, as the tools write them;
// alpha is not kept.
MODULE_EXPORT(encode_pixels)
void EncodePixels(const uint8_t* rgba, uint8_t* pixels, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    wpp::StoreLe16(pixels + 2 * i, wpp::PackRgb565(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]));
}

// The benchmark's yardstick: a plain copy of as many bytes, in this module.
MODULE_EXPORT(copy) void Copy(uint8_t* destination, const uint8_t* source, uint32_t size) {
  memcpy(destination, source, size);
}
