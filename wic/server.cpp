// The COM server's entry points: the class factories of the decoder and of the
// property handler, and whether the DLL may be unloaded. Nothing runs at load
// or unload.

#include "wic/codec.h"

namespace wic {

volatile LONG serverHolds = 0;

void* AllocateObject(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void FreeObject(void* object) { HeapFree(GetProcessHeap(), 0, object); }

namespace {

// One factory a class for the whole process, never freed: each reference to
// it holds the server, as a lock does.
class Factory final : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID iid, void** out);
  constexpr Factory(const GUID& clsid, Create create) : clsid(clsid), create_(create) {}
  const GUID& clsid;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (!SameGuid(iid, IID_IUnknown) && !SameGuid(iid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&serverHolds) > 0; }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&serverHolds) > 0; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&serverHolds);
    else
      InterlockedDecrement(&serverHolds);
    return S_OK;
  }

 private:
  Create create_;
};

constinit Factory factories[] = {{kDecoderClsid, CreateDecoder},
                                 {kPropertyHandlerClsid, CreatePropertyHandler}};

}  // namespace
}  // namespace wic

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// The slot of an abstract interface's vtable: no object of ours is abstract,
// so nothing calls it.
extern "C" void __cxa_pure_virtual() { __builtin_trap(); }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (wic::Factory& factory : wic::factories)
    if (wic::SameGuid(clsid, factory.clsid)) return factory.QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return wic::serverHolds == 0 ? S_OK : S_FALSE;
}
