// The property handler: what Explorer's details pane, its Dimensions column,
// its tooltips and the search indexer learn of a WPP picture, read from its
// 24-byte header alone. Read-only: the values are fixed once Initialize has
// read them, so any thread may ask for them.

#include "wic/codec.h"

namespace wic {
namespace {

// The system's image properties (System.Image.*): one format ID, a property ID each.
constexpr GUID kImageProperties = {
    0x6444048F, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};
enum ImageProperty : DWORD {
  kHorizontalSize = 3,
  kVerticalSize = 4,
  kBitDepth = 7,
  kDimensions = 13,
};
constexpr DWORD kProperties[] = {kHorizontalSize, kVerticalSize, kBitDepth, kDimensions};
constexpr DWORD kPropertyCount = sizeof kProperties / sizeof kProperties[0];

class PropertyHandler final : public ComObject<PropertyHandler, IInitializeWithStream,
                                               IPropertyStore, IPropertyStoreCapabilities> {
 public:
  void* Find(REFIID iid) {
    if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, IID_IPropertyStore))
      return static_cast<IPropertyStore*>(this);
    if (SameGuid(iid, IID_IInitializeWithStream)) return static_cast<IInitializeWithStream*>(this);
    if (SameGuid(iid, IID_IPropertyStoreCapabilities))
      return static_cast<IPropertyStoreCapabilities*>(this);
    return nullptr;
  }

  // The header is read here and the stream not kept, though it stays open for
  // the handler's life: the values never change. Asked for write access, a
  // read-only handler refuses, and stays fresh for the read-only try that
  // follows.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) override {
    if (stream == nullptr) return E_INVALIDARG;
    if ((mode & (STGM_WRITE | STGM_READWRITE)) != 0) return STG_E_ACCESSDENIED;
    // One Initialize only, even from two threads at once.
    if (InterlockedCompareExchange(&state_, kReading, kFresh) != kFresh)
      return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    StreamHead head;
    HRESULT result = ReadHead(stream, &head);
    if (SUCCEEDED(result) && !DescribePicture(head.bytes, head.count, head.streamBytes, &facts_))
      result = WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    InterlockedExchange(&state_, SUCCEEDED(result) ? kRead : kFailed);
    return result;
  }

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = state_ == kRead ? kPropertyCount : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (state_ != kRead || index >= kPropertyCount) {
      *key = {};
      return E_INVALIDARG;
    }
    *key = {kImageProperties, kProperties[index]};
    return S_OK;
  }
  // A property we do not have is VT_EMPTY, as the interface asks.
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    if (state_ != kRead || !SameGuid(key.fmtid, kImageProperties)) return S_OK;
    switch (key.pid) {
      case kHorizontalSize:
        return Number(facts_.width, value);
      case kVerticalSize:
        return Number(facts_.height, value);
      case kBitDepth:
        return Number(facts_.bitDepth, value);
      case kDimensions: {
        // The caller frees it with PropVariantClear, through COM's allocator.
        uint32_t chars = 1;
        while (facts_.dimensions[chars - 1] != u'\0') ++chars;
        auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(chars * sizeof(wchar_t)));
        if (text == nullptr) return E_OUTOFMEMORY;
        for (uint32_t i = 0; i < chars; ++i) text[i] = static_cast<wchar_t>(facts_.dimensions[i]);
        value->vt = VT_LPWSTR;
        value->pwszVal = text;
        return S_OK;
      }
      default:
        return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY) override { return S_FALSE; }

 private:
  static HRESULT Number(uint32_t number, PROPVARIANT* value) {
    value->vt = VT_UI4;
    value->ulVal = number;
    return S_OK;
  }

  enum : LONG { kFresh, kReading, kRead, kFailed };
  volatile LONG state_ = kFresh;
  PictureFacts facts_ = {};
};

}  // namespace

HRESULT CreatePropertyHandler(REFIID iid, void** out) {
  return CreateObject<PropertyHandler>(iid, out);
}

}  // namespace wic
