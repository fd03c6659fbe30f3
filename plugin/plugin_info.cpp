// Who the plug-in is and which files it takes, in 8-bit text and in UTF-16;
// and the preview it does not offer.

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

// The same strings in UTF-16, widened at compile time: they are ASCII.
struct WideString {
  char16_t text[32];
};
constexpr WideString Widen(const char* narrow) {
  WideString wide = {};
  for (int i = 0; narrow[i] != '\0'; ++i) wide.text[i] = static_cast<char16_t>(narrow[i]);
  return wide;
}
constexpr WideString kPluginInfoStringsW[] = {
    Widen(kPluginInfoStrings[0]), Widen(kPluginInfoStrings[1]), Widen(kPluginInfoStrings[2]),
    Widen(kPluginInfoStrings[3])};
static_assert(sizeof(kPluginInfoStringsW) / sizeof(kPluginInfoStringsW[0]) == kPluginInfoCount,
              "one wide string for each");

// Below 1 the copy could not even terminate the buffer, and the length read
// after it would run past it.
bool IsInfoRequest(int32_t index, const void* buffer, int32_t bufferLength) {
  return index >= 0 && index < kPluginInfoCount && buffer != nullptr && bufferLength >= 1;
}

}  // namespace

int32_t WPP_CALL GetPluginInfo(int32_t index, char* buffer, int32_t bufferLength) {
  if (!IsInfoRequest(index, buffer, bufferLength)) return 0;
  lstrcpynA(buffer, kPluginInfoStrings[index], bufferLength);
  return lstrlenA(buffer);
}

int32_t WPP_CALL GetPluginInfoW(int32_t index, char16_t* buffer, int32_t bufferLength) {
  if (!IsInfoRequest(index, buffer, bufferLength)) return 0;
  LPWSTR wide = reinterpret_cast<LPWSTR>(buffer);
  lstrcpynW(wide, reinterpret_cast<LPCWSTR>(kPluginInfoStringsW[index].text), bufferLength);
  return lstrlenW(wide);
}

PluginResult WPP_CALL GetPreview(const char*, intptr_t, uint32_t, BlockHandle*, BlockHandle*,
                                 ProgressProc, intptr_t) {
  return NotImplemented;
}

PluginResult WPP_CALL GetPreviewW(const char16_t*, intptr_t, uint32_t, BlockHandle*, BlockHandle*,
                                  ProgressProc, intptr_t) {
  return NotImplemented;
}
