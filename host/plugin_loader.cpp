// Finding and loading the plug-in as a viewer does.

#include "host/plugin_loader.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <limits.h>

#include <vector>

#ifdef _WIN32
namespace {

// The longest path Windows takes, in UTF-16 units.
constexpr DWORD kLongestPath = 32768;

std::string Utf8FromWide(const wchar_t* wide, int length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace

std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
  return wide;
}
#endif

bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error) {
  *plugin = LoadedPlugin{};
#ifdef _WIN32
  plugin->module = LoadLibraryW(WideFromUtf8(path).c_str());
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
  std::vector<wchar_t> path(kLongestPath);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  // A length of the whole buffer is a truncated name.
  const std::string program =
      length < kLongestPath ? Utf8FromWide(path.data(), static_cast<int>(length)) : "";
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
