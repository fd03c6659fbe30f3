// The WIC codec's COM server: the decoder class and its frames, the property
// handler that Explorer asks for a picture's size, their class factories and
// the registration, over the interfaces of <wincodec.h> and <propsys.h>. No C
// or C++ runtime: objects live on the process heap, every result is an HRESULT.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "wpp/wpp.h"
// After platform.h: the interfaces need the whole of <windows.h>'s COM part.
#include <objbase.h>
#include <propsys.h>
#include <wincodec.h>

#include "wic/frame_copy.h"

namespace wic {
enum Placed { kPlaced };
}
// Constructs an object in storage of ours: no C++ runtime, so no other new.
inline void* operator new(size_t, void* where, wic::Placed) noexcept { return where; }

namespace wic {

// Chosen once and never changed: registrations and programs keep them. The
// decoder's CLSID sorts after every decoder that Windows and Wine bring:
// Wine offers a stream to the decoders in the order of their CLSIDs and stops
// at the first whose pattern matches, and any pattern of ours (WPP has no
// magic number) matches other formats' files too.
constexpr GUID kDecoderClsid = {
    0xF6DCA0D7, 0xB4AD, 0x4754, {0xA2, 0x82, 0xD0, 0xE5, 0x78, 0x99, 0x01, 0xEB}};
constexpr GUID kPropertyHandlerClsid = {
    0x5B0F5E3A, 0x6C1D, 0x4E8B, {0x9A, 0x47, 0x2D, 0x11, 0xC3, 0x6E, 0x80, 0x5F}};
constexpr GUID kContainerFormat = {
    0x45DCEDC9, 0xB7DF, 0x4229, {0xB5, 0x5D, 0x9F, 0x98, 0x26, 0x56, 0x1D, 0xD2}};
constexpr GUID kVendor = {
    0x327C235B, 0x1C19, 0x4D0C, {0x97, 0x04, 0x39, 0x26, 0x35, 0x75, 0x85, 0x36}};

bool SameGuid(const GUID& a, const GUID& b);

// Objects alive and server locks held: DllCanUnloadNow says yes at zero.
extern volatile LONG serverHolds;

// Storage for one object of T from the process heap; null when there is none.
// Objects end in their Release, which runs the destructor and frees it.
void* AllocateObject(size_t size);
void FreeObject(void* object);
template <typename T, typename... Arguments>
T* NewObject(Arguments... arguments) {
  void* memory = AllocateObject(sizeof(T));
  return memory != nullptr ? new (memory, kPlaced) T(arguments...) : nullptr;
}
template <typename T>
void DeleteObject(T* object) {
  object->~T();
  FreeObject(object);
}

// IUnknown for a heap object of class Self that implements Interfaces: Self's
// Find answers each IID with one of its interfaces (always the same one for
// IUnknown), or null. It counts among the server's holds while it lives.
template <typename Self, typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<Self*>(this)->Find(iid);
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) DeleteObject(static_cast<Self*>(this));
    return left;
  }

 protected:
  ComObject() { InterlockedIncrement(&serverHolds); }
  ~ComObject() { InterlockedDecrement(&serverHolds); }

 private:
  LONG references_ = 1;
};

// A new object of class T, asked for the interface iid; *out is null on failure.
template <typename T>
HRESULT CreateObject(REFIID iid, void** out) {
  *out = nullptr;
  T* made = NewObject<T>();
  if (made == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = made->QueryInterface(iid, out);
  made->Release();
  return result;
}

// The first bytes of a stream, read from its start, and its length; the
// stream's position is left where it was.
struct StreamHead {
  uint8_t bytes[wpp::kHeaderSize];
  uint32_t count;
  uint64_t streamBytes;
};
HRESULT ReadHead(IStream* stream, StreamHead* head);

HRESULT CreateDecoder(REFIID iid, void** out);
HRESULT CreatePropertyHandler(REFIID iid, void** out);

}  // namespace wic
