// The DLL's entry point and the few memory routines the compiler may call.
// Nothing runs at load or unload, and no C runtime is linked.

#include <stddef.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// GCC may turn plain loops and record copies into these calls. Their loops
// are kept as loops, not folded back into calls to themselves.
extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(void* d,
                                                                                      int c,
                                                                                      size_t n) {
  unsigned char* p = static_cast<unsigned char*>(d);
  while (n--) *p++ = static_cast<unsigned char>(c);
  return d;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memcpy(void* d,
                                                                                      const void* s,
                                                                                      size_t n) {
  unsigned char* p = static_cast<unsigned char*>(d);
  const unsigned char* q = static_cast<const unsigned char*>(s);
  while (n--) *p++ = *q++;
  return d;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memmove(
    void* d, const void* s, size_t n) {
  unsigned char* p = static_cast<unsigned char*>(d);
  const unsigned char* q = static_cast<const unsigned char*>(s);
  if (p < q) {
    while (n--) *p++ = *q++;
  } else {
    p += n;
    q += n;
    while (n--) *--p = *--q;
  }
  return d;
}
