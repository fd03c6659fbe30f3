// Converting an accepted image into a bottom-up 16-bit DIB in two blocks.
//
// The header block is one BITMAPINFOHEADER (40 bytes, no colour table):
//   offset  size  field            value
//     0      4    biSize           40
//     4      4    biWidth          width
//     8      4    biHeight         height, positive: the first row is the bottom
//    12      2    biPlanes         1
//    14      2    biBitCount       16
//    16      4    biCompression    0 (BI_RGB: RGB555, bit 15 clear)
//    20      4    biSizeImage      size of the bits block
//    24..39       resolution and palette counts, all 0
// Every DIB row starts on a 4-byte boundary: rows are (2 * width + 3) & ~3
// bytes apart, and the bits block holds height such rows and 4 more bytes,
// which for an even width is exactly the image's dataLength.

#include "platform/platform.h"
#include "wpp/bytes.h"
#include "wpp/convert_rows.h"
#include "wpp/wpp.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kTrailerBytes = 4;

void FillInfoHeader(uint8_t* header, const WppHeader& image, uint32_t bitsSize) {
  wpp::StoreLe32(header + 0, kInfoHeaderSize);
  wpp::StoreLe32(header + 4, image.width);
  wpp::StoreLe32(header + 8, image.height);
  wpp::StoreLe16(header + 12, 1);
  wpp::StoreLe16(header + 14, 16);
  wpp::StoreLe32(header + 16, 0);
  wpp::StoreLe32(header + 20, bitsSize);
}

}  // namespace

PluginResult DecodeToDib(uint32_t available, BlockHandle* infoSlot, BlockHandle* bitsSlot,
                         ProgressProc progress, int32_t userData, const uint8_t* image) {
  const WppHeader header = ParseWppHeader(image);
  if (available < static_cast<uint64_t>(wpp::kDataLengthBase) + header.dataLength)
    return UnsupportedFormat;

  const uint64_t stride = (2ull * header.width + 3) & ~3ull;
  const uint64_t bitsSize = stride * header.height + kTrailerBytes;

  if (progress != nullptr && progress(0, 1, userData) != 0) return Aborted;

  if (bitsSize > 0xFFFFFFFFull) {
    *infoSlot = nullptr;
    *bitsSlot = nullptr;
    return OutOfMemory;
  }
  // Both are attempted and stored before either is tested.
  uint8_t* info = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, kInfoHeaderSize));
  *infoSlot = info;
  uint8_t* bits = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(bitsSize)));
  *bitsSlot = bits;
  if (info == nullptr || bits == nullptr) {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
    // Never leave the host holding a freed address.
    *infoSlot = nullptr;
    *bitsSlot = nullptr;
    return OutOfMemory;
  }

  FillInfoHeader(info, header, static_cast<uint32_t>(bitsSize));
  const wpp::PictureLayout layout = {image + wpp::kPixelsOffset, header.width, header.height, bits,
                                     static_cast<uint32_t>(stride)};
  wpp::ConvertPicture(wpp::PickConvertPath(), wpp::ShouldStreamStores(bitsSize), layout);
  // The trailer is zeroed too, so no stale heap bytes reach the host.
  wpp::StoreLe32(bits + bitsSize - kTrailerBytes, 0);

  if (progress != nullptr && progress(1, 1, userData) != 0) return Aborted;
  return Ok;
}
