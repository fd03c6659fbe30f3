// Loads a plug-in file the way a viewer does (dlopen/dlsym on Linux,
// LoadLibraryA/GetProcAddress on Windows) and hands back its five entry points.
#pragma once

#include <string>

#include "plugin/plugin.h"

// The entry points' types, as the contract declares them at this width.
using GetPluginInfoProc = decltype(&GetPluginInfo);
using IsSupportedProc = decltype(&IsSupported);
using GetPictureInfoProc = decltype(&GetPictureInfo);
using GetPictureProc = decltype(&GetPicture);
using GetPluginInfoWProc = decltype(&GetPluginInfoW);
using IsSupportedWProc = decltype(&IsSupportedW);
using GetPictureInfoWProc = decltype(&GetPictureInfoW);
using GetPictureWProc = decltype(&GetPictureW);

struct LoadedPlugin {
  void* module = nullptr;
  GetPluginInfoProc getPluginInfo = nullptr;
  IsSupportedProc isSupported = nullptr;
  GetPictureInfoProc getPictureInfo = nullptr;
  GetPictureProc getPicture = nullptr;
  GetPictureProc getPreview = nullptr;
  // The wide-character twins: all five, or none when the plug-in lacks any.
  GetPluginInfoWProc getPluginInfoW = nullptr;
  IsSupportedWProc isSupportedW = nullptr;
  GetPictureInfoWProc getPictureInfoW = nullptr;
  GetPictureWProc getPictureW = nullptr;
  GetPictureWProc getPreviewW = nullptr;
  bool hasWide() const { return getPictureW != nullptr; }
};

// Loads the plug-in at path. Returns false with a reason in *error when the
// file cannot be loaded or lacks one of the five 8-bit entry points; nothing
// stays loaded then. The wide-character ones are bound when all are there.
bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error);

// Unloads a plug-in that LoadPlugin loaded; harmless on an empty one.
void UnloadPlugin(LoadedPlugin* plugin);

// The folder of the running program, with a trailing separator.
std::string ProgramFolder();

// The plug-in file next to the running program: wpp.spi or wpp.sph on
// Windows, wpp.so on Linux.
std::string DefaultPluginPath();
