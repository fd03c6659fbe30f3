// Recognising a WPP image from its header.

#include "wpp/bytes.h"
#include "wpp/picture_stream.h"
#include "wpp/wpp.h"

WppHeader ParseWppHeader(const uint8_t* image) {
  WppHeader header;
  header.dataLength = wpp::LoadLe32(image + wpp::kDataLengthOffset);
  header.width = wpp::LoadLe16(image + wpp::kWidthOffset);
  header.height = wpp::LoadLe16(image + wpp::kHeightOffset);
  return header;
}

namespace wpp {

HeaderVerdict JudgeHeader(const uint8_t* header) {
  const WppHeader parsed = ParseWppHeader(header);
  if (parsed.width == 0 || parsed.height == 0) return HeaderVerdict::ZeroSide;
  // In 64 bits the sum cannot wrap: anything past 32 bits matches no dataLength.
  const uint64_t expected = 2ull * parsed.width * parsed.height + 4;
  return expected == parsed.dataLength ? HeaderVerdict::Picture : HeaderVerdict::WrongLength;
}

}  // namespace wpp

bool CheckHeader(const uint8_t* image) {
  return wpp::JudgeHeader(image) == wpp::HeaderVerdict::Picture;
}

uint64_t ImageByteCount(const uint8_t* image) {
  return uint64_t{wpp::kDataLengthBase} + ParseWppHeader(image).dataLength;
}
