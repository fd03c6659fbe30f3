// The installer's one custom action, run after it has installed or removed
// the codec: the shell drops what it cached about file types (blank
// thumbnails among it) and asks the registry again.

#include <shlobj.h>
#include <windows.h>

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// An MSI custom action's signature; the session handle goes unused.
extern "C" UINT WINAPI NotifyShell(ULONG) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ERROR_SUCCESS;
}
