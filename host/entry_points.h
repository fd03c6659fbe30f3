// The ten entry points a viewer binds by name: the five 8-bit ones, and their
// wide-character twins, which a viewer takes all five or not at all.
// Freestanding, so that every host of ours binds through it: the loader, and
// the viewer test of the targets with no C or C++ runtime.
#pragma once

#include "plugin/plugin.h"

struct EntryPoints {
  decltype(&GetPluginInfo) getPluginInfo = nullptr;
  decltype(&IsSupported) isSupported = nullptr;
  decltype(&GetPictureInfo) getPictureInfo = nullptr;
  decltype(&GetPicture) getPicture = nullptr;
  decltype(&GetPreview) getPreview = nullptr;
  decltype(&GetPluginInfoW) getPluginInfoW = nullptr;
  decltype(&IsSupportedW) isSupportedW = nullptr;
  decltype(&GetPictureInfoW) getPictureInfoW = nullptr;
  decltype(&GetPictureW) getPictureW = nullptr;
  decltype(&GetPreviewW) getPreviewW = nullptr;
  bool hasWide() const { return getPictureW != nullptr; }
};

// Binds them through find(name), the system's GetProcAddress or dlsym.
// Returns the name of the first 8-bit entry point missing (and binds none),
// or null when all five are bound; the twins are bound when all five are there.
template <typename Find>
const char* BindEntryPoints(Find find, EntryPoints* entries) {
  EntryPoints bound;
  const char* missing = nullptr;
  auto bind = [&](const char* name, auto* slot) {
    *slot = reinterpret_cast<decltype(+*slot)>(find(name));
    if (*slot == nullptr && missing == nullptr) missing = name;
  };
  bind("GetPluginInfo", &bound.getPluginInfo);
  bind("IsSupported", &bound.isSupported);
  bind("GetPictureInfo", &bound.getPictureInfo);
  bind("GetPicture", &bound.getPicture);
  bind("GetPreview", &bound.getPreview);
  if (missing != nullptr) return missing;
  EntryPoints wide = bound;
  bind("GetPluginInfoW", &wide.getPluginInfoW);
  bind("IsSupportedW", &wide.isSupportedW);
  bind("GetPictureInfoW", &wide.getPictureInfoW);
  bind("GetPictureW", &wide.getPictureW);
  bind("GetPreviewW", &wide.getPreviewW);
  *entries = missing == nullptr ? wide : bound;
  return nullptr;
}
