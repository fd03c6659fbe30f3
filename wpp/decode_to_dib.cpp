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
//    20      4    biSizeImage      size of the rows: stride * height
//    24..39       resolution and palette counts, all 0
// Every DIB row starts on a 4-byte boundary: rows are (2 * width + 3) & ~3
// bytes apart. The bits block holds height such rows and 4 zero bytes more,
// which for an even width is exactly the image's dataLength: a host that
// sizes its copy from the block, or from dataLength, reads only bytes that
// exist, and one that copies biSizeImage bytes writes no further than its
// own buffer of stride * height.

#include "platform/platform.h"
#include "wpp/bytes.h"
#include "wpp/convert_rows.h"
#include "wpp/wpp.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kTrailerBytes = 4;
// biSizeImage is a 32-bit field and a 32-bit host sizes blocks in 32 bits: a
// bits block must fit a 32-bit count at every width.
constexpr uint64_t kLargestBitsBlock = 0xFFFFFFFFull;

void FillInfoHeader(uint8_t* header, const WppHeader& image, uint32_t rowsSize) {
  wpp::StoreLe32(header + 0, kInfoHeaderSize);
  wpp::StoreLe32(header + 4, image.width);
  wpp::StoreLe32(header + 8, image.height);
  wpp::StoreLe16(header + 12, 1);
  wpp::StoreLe16(header + 14, 16);
  wpp::StoreLe32(header + 16, 0);
  wpp::StoreLe32(header + 20, rowsSize);
}

}  // namespace

PluginResult DecodeToDib(size_t available, BlockHandle* infoSlot, BlockHandle* bitsSlot,
                         ProgressProc progress, intptr_t userData, const uint8_t* image) {
  const WppHeader header = ParseWppHeader(image);
  if (available < ImageByteCount(image)) return UnsupportedFormat;

  const uint64_t stride = (2ull * header.width + 3) & ~3ull;
  const uint64_t rowsSize = stride * header.height;
  const uint64_t bitsSize = rowsSize + kTrailerBytes;

  if (progress != nullptr && progress(0, 1, userData) != 0) return Aborted;

  if (bitsSize > kLargestBitsBlock) {
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

  FillInfoHeader(info, header, static_cast<uint32_t>(rowsSize));
  const wpp::PictureLayout layout = {image + wpp::kPixelsOffset, header.width, header.height, bits,
                                     static_cast<uint32_t>(stride)};
  wpp::ConvertPicture(wpp::PickConvertPath(), layout);
  // The trailer is zeroed too, so no stale heap bytes reach the host.
  wpp::StoreLe32(bits + bitsSize - kTrailerBytes, 0);

  if (progress != nullptr && progress(1, 1, userData) != 0) return Aborted;
  return Ok;
}
