// The host's request for a picture's dimensions, by either kind of path.

#include "platform/platform.h"
#include "plugin/load_source.h"
#include "plugin/plugin.h"
#include "wpp/wpp.h"

namespace {

PluginResult RequestPictureInfo(SourceName source, intptr_t offsetOrLength, uint32_t mode,
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

}  // namespace

PluginResult WPP_CALL GetPictureInfo(const char* source, intptr_t offsetOrLength, uint32_t mode,
                                     PictureInfoRecord* info) {
  return RequestPictureInfo(NarrowName(source), offsetOrLength, mode, info);
}

PluginResult WPP_CALL GetPictureInfoW(const char16_t* source, intptr_t offsetOrLength,
                                      uint32_t mode, PictureInfoRecord* info) {
  return RequestPictureInfo(WideName(source), offsetOrLength, mode, info);
}
