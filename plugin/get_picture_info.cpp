// The host's request for a picture's dimensions.

#include "platform/platform.h"
#include "plugin/load_source.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

PluginResult WPP_CALL GetPictureInfo(const char* source, intptr_t offsetOrLength, uint32_t mode,
                                     PictureInfoRecord* info) {
  // With nowhere to put the answer there is no request to serve.
  if (info == nullptr) return UnsupportedFormat;
  SourceBytes bytes;
  const PluginResult acquired =
      AcquireSource(source, offsetOrLength, mode, SourceNeed::Header, &bytes);
  if (acquired != Ok) return acquired;
  const PluginResult result =
      CheckHeader(bytes.image) ? FillPictureInfo(info, bytes.image) : UnsupportedFormat;
  ReleaseSource(&bytes);
  return result;
}
