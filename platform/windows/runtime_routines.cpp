// The few memory routines a compiler may call on its own (for a zeroed
// buffer, a record copy) in a program that links no C runtime: the plug-in,
// the WIC codec, and the bare test programs (the viewer test, the WIC test).

#include <stddef.h>

// GCC may turn these very loops back into calls to themselves unless told not
// to; clang never does so inside functions of these names.
#if defined(__GNUC__) && !defined(__clang__)
#define WPP_KEEP_LOOPS __attribute__((optimize("no-tree-loop-distribute-patterns")))
#else
#define WPP_KEEP_LOOPS
#endif

extern "C" WPP_KEEP_LOOPS void* memset(void* d, int c, size_t n) {
  unsigned char* p = static_cast<unsigned char*>(d);
  while (n--) *p++ = static_cast<unsigned char>(c);
  return d;
}

extern "C" WPP_KEEP_LOOPS void* memcpy(void* d, const void* s, size_t n) {
  unsigned char* p = static_cast<unsigned char*>(d);
  const unsigned char* q = static_cast<const unsigned char*>(s);
  while (n--) *p++ = *q++;
  return d;
}

extern "C" WPP_KEEP_LOOPS void* memmove(void* d, const void* s, size_t n) {
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
