// Loads a plug-in file the way a viewer does (dlopen/dlsym on Linux,
// LoadLibraryW/GetProcAddress on Windows) and hands back its ten entry points.
// Paths here are UTF-8 on both, so on Windows a folder that the system's code
// page cannot spell is found and loaded like any other.
#pragma once

#include <string>

#include "host/entry_points.h"

// A plug-in as loaded: its module and its entry points.
struct LoadedPlugin : EntryPoints {
  void* module = nullptr;
};

// Loads the plug-in at path. Returns false with a reason in *error when the
// file cannot be loaded or lacks one of the five 8-bit entry points; nothing
// stays loaded then. The wide-character ones are bound when all five are there.
bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error);

// Unloads a plug-in that LoadPlugin loaded; harmless on an empty one.
void UnloadPlugin(LoadedPlugin* plugin);

// The folder of the running program, with a trailing separator.
std::string ProgramFolder();

// The plug-in file next to the running program: wpp.spi or wpp.sph on
// Windows, wpp.so on Linux.
std::string DefaultPluginPath();

#ifdef _WIN32
// UTF-8 as Windows' UTF-16; a byte that is not UTF-8 becomes U+FFFD.
std::wstring WideFromUtf8(const std::string& utf8);
#endif
