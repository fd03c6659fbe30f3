// The WIC test's property handler cases: the class that the registry names
// for .wpp, made as Explorer makes it, on WPP files and on files it must refuse.

#include "tests/wic/wic_test.h"

namespace wictest {

HRESULT CreatePropertyHandler(REFIID iid, void** out) {
  *out = nullptr;
  HKEY key;
  wchar_t text[40] = {};
  DWORD size = sizeof text - sizeof text[0];
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\"
                    L"PropertyHandlers\\.wpp",
                    0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return REGDB_E_CLASSNOTREG;
  const LONG status =
      RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  CLSID clsid;
  if (status != ERROR_SUCCESS || FAILED(CLSIDFromString(text, &clsid))) return REGDB_E_CLASSNOTREG;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

namespace {

// The system's image properties, spelled here apart from the codec.
constexpr GUID kImageProperties = {
    0x6444048F, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};
constexpr PROPERTYKEY kHorizontalSize = {kImageProperties, 3},
                      kVerticalSize = {kImageProperties, 4}, kBitDepth = {kImageProperties, 7},
                      kDimensions = {kImageProperties, 13};

// The handler's answers for the stream, as Explorer reads them: false when
// Initialize refuses it. text holds Dimensions, narrowed.
struct Answers {
  DWORD count;
  uint32_t width, height, bitDepth;
  char text[32];
};
bool AskHandler(IStream* stream, Answers* a) {
  *a = {};
  IInitializeWithStream* init = nullptr;
  if (FAILED(CreatePropertyHandler(IID_IInitializeWithStream, reinterpret_cast<void**>(&init))))
    return Expect(false, "the registered property handler made");
  IPropertyStore* store = nullptr;
  // Read-only: write access refused, and the read-only try that follows taken.
  ExpectEqual(init->Initialize(stream, STGM_READWRITE), STG_E_ACCESSDENIED, "STGM_READWRITE");
  const bool read = SUCCEEDED(init->Initialize(stream, STGM_READ));
  if (read &&
      ExpectEqual(init->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store)), S_OK,
                  "IPropertyStore")) {
    store->GetCount(&a->count);
    PROPERTYKEY past = {kImageProperties, 99};
    ExpectEqual(store->GetAt(a->count, &past), E_INVALIDARG, "GetAt past the count");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&past);
    bool zero = true;
    for (size_t i = 0; i < sizeof past; ++i) zero = zero && bytes[i] == 0;
    ExpectEqual(zero, true, "GetAt past the count zero-fills the key");
    const struct {
      const PROPERTYKEY* key;
      VARTYPE type;
      uint32_t* number;
    } values[] = {{&kHorizontalSize, VT_UI4, &a->width},
                  {&kVerticalSize, VT_UI4, &a->height},
                  {&kBitDepth, VT_UI4, &a->bitDepth},
                  {&kDimensions, VT_LPWSTR, nullptr}};
    for (const auto& v : values) {
      PROPVARIANT value;
      if (ExpectEqual(store->GetValue(*v.key, &value), S_OK, "GetValue") &&
          ExpectEqual(value.vt, v.type, "the value's type")) {
        if (v.number != nullptr) *v.number = value.ulVal;
        for (int i = 0; v.number == nullptr && i < 31 && value.pwszVal[i] != L'\0'; ++i)
          a->text[i] = static_cast<char>(value.pwszVal[i]);
      }
      PropVariantClear(&value);
    }
    PROPVARIANT other;
    const PROPERTYKEY title = {kImageProperties, 2};
    ExpectEqual(store->GetValue(title, &other), S_OK, "GetValue of a property it lacks");
    ExpectEqual(other.vt, VT_EMPTY, "VT_EMPTY");
    ExpectEqual(store->SetValue(kDimensions, other) == S_OK, false, "SetValue refused");
    IPropertyStoreCapabilities* capabilities = nullptr;
    if (ExpectEqual(init->QueryInterface(IID_IPropertyStoreCapabilities,
                                         reinterpret_cast<void**>(&capabilities)),
                    S_OK, "IPropertyStoreCapabilities")) {
      ExpectEqual(capabilities->IsPropertyWritable(kDimensions), S_FALSE, "read-only");
      capabilities->Release();
    }
    ExpectEqual(SUCCEEDED(init->Initialize(stream, STGM_READ)), false, "a second Initialize");
    store->Release();
  }
  init->Release();
  return read;
}

}  // namespace

bool HandlerTakes(IStream* stream) {
  Answers a;
  return AskHandler(stream, &a);
}

// The handler's answers for WPP files of the samples' sizes and others, and
// for files it must refuse.
void CheckProperties() {
  caseName = "the property handler";
  const struct {
    uint32_t width, height;
    uint32_t cut;  // bytes cut from the file's end
    const char* dimensions;
  } cases[] = {{640, 480, 0, "640 x 480"}, {317, 211, 0, "317 x 211"}, {1, 1, 0, "1 x 1"},
               {65535, 1, 0, "65535 x 1"}, {5, 4, 1, nullptr},         {5, 4, 41, nullptr},
               {5, 4, 44 - 23, nullptr},   {5, 4, 44, nullptr}};
  for (const auto& c : cases) {
    const Picture p = MakePicture(c.width, c.height);
    caseWidth = p.width;
    caseHeight = p.height;
    char16_t path[kPathChars];
    IWICStream* stream = nullptr;
    Answers a;
    if (WriteTempFile(u"wpp_wic_properties.wpp", p.bytes, p.size - c.cut, path) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(
            stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path), GENERIC_READ))) {
      if (ExpectEqual(AskHandler(stream, &a), c.dimensions != nullptr, "Initialize") &&
          c.dimensions != nullptr) {
        ExpectEqual(a.count, 4, "GetCount");
        ExpectEqual(a.width, c.width, "System.Image.HorizontalSize");
        ExpectEqual(a.height, c.height, "System.Image.VerticalSize");
        ExpectEqual(a.bitDepth, 16, "System.Image.BitDepth");
        Expect(SameText(a.text, c.dimensions), "System.Image.Dimensions");
      }
    }
    if (stream != nullptr) stream->Release();
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    LocalFree(p.bytes);
  }
  caseWidth = caseHeight = 0;
}

bool PrintDetails(const char16_t* file) {
  IWICStream* stream = nullptr;
  Answers a;
  const bool ok = SUCCEEDED(factory->CreateStream(&stream)) &&
                  SUCCEEDED(stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(file),
                                                           GENERIC_READ)) &&
                  AskHandler(stream, &a);
  if (ok)
    Print("HorizontalSize ", a.width, ", VerticalSize ", a.height, ", BitDepth ", a.bitDepth,
          ", Dimensions \"", a.text, "\"\r\n");
  if (stream != nullptr) stream->Release();
  return ok;
}
}  // namespace wictest
