// Finding and loading the plug-in as a viewer does.

#include "host/plugin_loader.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error) {
  *plugin = LoadedPlugin{};
#ifdef _WIN32
  plugin->module = LoadLibraryA(path.c_str());
  if (plugin->module == nullptr) {
    const DWORD why = GetLastError();
    *error = "cannot load " + path + " (error " + std::to_string(why) + ")";
    // A 32-bit program cannot load wpp.sph, nor a 64-bit one wpp.spi.
    if (why == ERROR_BAD_EXE_FORMAT)
      *error += ": not a plug-in for a " + std::to_string(8 * sizeof(void*)) + "-bit program";
    return false;
  }
#else
  plugin->module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin->module == nullptr) {
    *error = "cannot load " + path + ": " + dlerror();
    return false;
  }
#endif
  const auto find = [&](const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(plugin->module), name));
#else
    return dlsym(plugin->module, name);
#endif
  };
  if (const char* missing = BindEntryPoints(find, plugin)) {
    *error = std::string("the plug-in has no entry point ") + missing;
    UnloadPlugin(plugin);
    return false;
  }
  return true;
}

void UnloadPlugin(LoadedPlugin* plugin) {
  if (plugin->module != nullptr) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(plugin->module));
#else
    dlclose(plugin->module);
#endif
  }
  *plugin = LoadedPlugin{};
}

std::string ProgramFolder() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program(path, length < MAX_PATH ? length : 0);
  const size_t slash = program.find_last_of("\\/");
#else
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string program(path, length > 0 ? static_cast<size_t>(length) : 0);
  const size_t slash = program.find_last_of('/');
#endif
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

std::string DefaultPluginPath() { return ProgramFolder() + WPP_PLUGIN_FILE; }
