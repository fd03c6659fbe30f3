// Every GUID that the headers of the codec's interfaces declare is defined
// here, once, where no import library brings them; the linker keeps those
// that the codec (or its test) names. And how two GUIDs are compared.

#include <initguid.h>

#include "wic/codec.h"
// After codec.h, which brings <windows.h>.
#include <shobjidl.h>
#include <thumbcache.h>

// Declared by <unknwn.h> for C++ but defined by no header.
extern "C" const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Field by field: the headers' own comparison calls memcmp, which no runtime gives us.
bool wic::SameGuid(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
