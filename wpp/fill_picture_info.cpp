// Describing an accepted image in the host's picture information record.

#include "platform/platform.h"
#include "wpp/wpp.h"

namespace {
constexpr char kInformationText[] = "zorplex sample";
constexpr SIZE_T kTextBlockSize = 256;
static_assert(sizeof(kInformationText) <= kTextBlockSize, "the text fits its block");
}  // namespace

PluginResult FillPictureInfo(PictureInfoRecord* info, const uint8_t* image) {
  const WppHeader header = ParseWppHeader(image);
  // Every byte, the 64-bit record's padding too: hosts look for stale bytes.
  *info = PictureInfoRecord{};
  info->width = header.width;  // zero-extended: 65535 stays 65535
  info->height = header.height;
  info->bitsPerPixel = 16;
  // A fresh block on every call: the host owns and frees each one. Zero-filled,
  // so nothing the heap held before follows the text.
  void* text = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kTextBlockSize);
  info->textHandle = text;
  if (text != nullptr) lstrcpyA(static_cast<char*>(text), kInformationText);
  return Ok;
}
