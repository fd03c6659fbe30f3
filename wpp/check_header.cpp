// Recognising a WPP image from its header.

#include "wpp/bytes.h"
#include "wpp/wpp.h"

WppHeader ParseWppHeader(const uint8_t* image) {
  WppHeader header;
  header.dataLength = wpp::LoadLe32(image + wpp::kDataLengthOffset);
  header.width = wpp::LoadLe16(image + wpp::kWidthOffset);
  header.height = wpp::LoadLe16(image + wpp::kHeightOffset);
  return header;
}

bool CheckHeader(const uint8_t* image) {
  const WppHeader header = ParseWppHeader(image);
  if (header.dataLength == 0 || header.width == 0 || header.height == 0) return false;
  // In 64 bits the sum cannot wrap: anything past 32 bits matches no dataLength.
  const uint64_t expected = 2ull * header.width * header.height + 4;
  return expected == header.dataLength;
}

uint64_t ImageByteCount(const uint8_t* image) {
  return uint64_t{wpp::kDataLengthBase} + ParseWppHeader(image).dataLength;
}
