// The host's request for the picture itself.

#include "platform/platform.h"
#include "plugin/load_source.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

PluginResult WPP_CALL GetPicture(const char* source, intptr_t offsetOrLength, uint32_t mode,
                                 BlockHandle* infoSlot, BlockHandle* bitsSlot,
                                 ProgressProc progress, intptr_t userData) {
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
