#include "tools/wpp_writer.h"

#include "tools/wpp_reference.h"
#include "wpp/bytes.h"
#include "wpp/picture_writer.h"
#include "wpp/wpp.h"

namespace wppfile {

Bytes HeaderOnly(uint32_t dataLength, uint32_t width, uint32_t height, uint8_t prefixByte) {
  Bytes out(wpp::kHeaderSize, prefixByte);
  wpp::StoreHeaderFields(out.data(), dataLength, static_cast<uint16_t>(width),
                         static_cast<uint16_t>(height));
  return out;
}

Bytes EncodeWpp(const ImageSpec& image) {
  const uint64_t count = uint64_t{image.width} * image.height;
  const uint32_t dataLength =
      image.dataLength >= 0 ? static_cast<uint32_t>(image.dataLength)
                            : static_cast<uint32_t>(wpp::DataLengthFor(image.width, image.height));
  Bytes out = HeaderOnly(dataLength, image.width, image.height, image.prefixByte);
  for (size_t i = 0; image.prefix != nullptr && i < wpp::kDataLengthOffset; ++i)
    out[i] = static_cast<uint8_t>(image.prefix[i]);
  out.resize(wpp::kPixelsOffset + 2 * count);
  for (size_t i = 0; i < count && i < image.pixels.size(); ++i)
    wpp::StoreLe16(out.data() + wpp::kPixelsOffset + 2 * i, image.pixels[i]);
  return out;
}

std::vector<uint16_t> RandomPixels(size_t count, uint32_t seed) {
  std::vector<uint16_t> pixels(count);
  reference::Random random(seed);
  for (auto& p : pixels) p = random.NextPixel();
  return pixels;
}

ImageSpec RandomImage(uint32_t width, uint32_t height, uint32_t seed) {
  ImageSpec image;
  image.width = width;
  image.height = height;
  image.pixels = RandomPixels(size_t{width} * height, seed);
  return image;
}

}  // namespace wppfile
