// Every GUID that the headers of the codec's interfaces declare is defined
// here, once, where no import library brings them; the linker keeps those
// that the codec names.

#include <initguid.h>

#include "wic/codec.h"
// After codec.h, which brings <windows.h>.
#include <shobjidl.h>
#include <thumbcache.h>

// Declared by <unknwn.h> for C++ but defined by no header.
extern "C" const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
