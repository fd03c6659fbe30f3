// The host's request for the picture itself, by either kind of path.

#include "platform/platform.h"
#include "plugin/load_source.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

namespace {

PluginResult RequestPicture(SourceName source, intptr_t offsetOrLength, uint32_t mode,
                            BlockHandle* infoSlot, BlockHandle* bitsSlot, ProgressProc progress,
                            intptr_t userData) {
  // Without both slots the blocks could never reach the host.
  if (infoSlot == nullptr || bitsSlot == nullptr) return UnsupportedFormat;
  SourceBytes bytes;
  const PluginResult acquired =
      AcquireSource(source, offsetOrLength, mode, SourceNeed::WholeImage, &bytes);
  if (acquired != Ok) return acquired;
  const PluginResult result =
      CheckHeader(bytes.image)
          ? DecodeToDib(bytes.available, infoSlot, bitsSlot, progress, userData, bytes.image)
          : UnsupportedFormat;
  ReleaseSource(&bytes);
  return result;
}

}  // namespace

PluginResult WPP_CALL GetPicture(const char* source, intptr_t offsetOrLength, uint32_t mode,
                                 BlockHandle* infoSlot, BlockHandle* bitsSlot,
                                 ProgressProc progress, intptr_t userData) {
  return RequestPicture(NarrowName(source), offsetOrLength, mode, infoSlot, bitsSlot, progress,
                        userData);
}

PluginResult WPP_CALL GetPictureW(const char16_t* source, intptr_t offsetOrLength, uint32_t mode,
                                  BlockHandle* infoSlot, BlockHandle* bitsSlot,
                                  ProgressProc progress, intptr_t userData) {
  return RequestPicture(WideName(source), offsetOrLength, mode, infoSlot, bitsSlot, progress,
                        userData);
}
