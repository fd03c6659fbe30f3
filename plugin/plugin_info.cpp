// Who the plug-in is and which files it takes; and the preview it does not offer.

#include "platform/platform.h"
#include "plugin/plugin.h"

namespace {
constexpr const char* kPluginInfoStrings[] = {
    "00IN",                // the plug-in interface identifier
    "WPP to DIB by zurk",  // the description
    "*.wpp",               // the file-name pattern
    "WPP file",            // the format's display name
};
constexpr int32_t kPluginInfoCount = sizeof(kPluginInfoStrings) / sizeof(kPluginInfoStrings[0]);
}  // namespace

int32_t WPP_CALL GetPluginInfo(int32_t index, char* buffer, int32_t bufferLength) {
  if (index < 0 || index >= kPluginInfoCount) return 0;
  // Below 1 the copy could not even terminate the buffer, and the length read
  // after it would run past it.
  if (buffer == nullptr || bufferLength < 1) return 0;
  lstrcpynA(buffer, kPluginInfoStrings[index], bufferLength);
  return lstrlenA(buffer);
}

PluginResult WPP_CALL GetPreview(const char*, intptr_t, uint32_t, BlockHandle*, BlockHandle*,
                                 ProgressProc, intptr_t) {
  return NotImplemented;
}
