// The WIC codec's COM server: one decoder class, its frames, the class
// factory and the registration, over the interfaces of <wincodec.h>. No C or
// C++ runtime: objects live on the process heap, every result is an HRESULT.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
// After platform.h: the interfaces need the whole of <windows.h>'s COM part.
#include <objbase.h>
#include <wincodec.h>

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

// IUnknown for a heap object of class Self that implements Interface and
// answers for IUnknown and the interfaces kIids (Interface and its bases).
// It counts among the server's holds while it lives.
template <typename Self, typename Interface, const IID* const... kIids>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (!SameGuid(iid, IID_IUnknown) && !(SameGuid(iid, *kIids) || ...)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<Interface*>(this);
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

// A new decoder, asked for the interface iid; *out is null on failure.
HRESULT CreateDecoder(REFIID iid, void** out);

}  // namespace wic
