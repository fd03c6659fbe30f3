// The DLL's entry point: nothing runs at load or unload, and no C runtime is
// linked.

#include "platform/platform.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
