// The WIC test's decoding checks: WPP pictures through the factory's search
// from files, memory and streams, their pixels and rects exactly as stored
// and through WIC's converter; bad files and failing streams; other formats
// untouched; reference counts, leaks and two threads on one decoder.

#include "tests/wic/wic_test.h"
#include "wpp/bytes.h"
// After <windows.h>, which wic_test.h brings.
#include <psapi.h>

namespace wictest {
namespace {

using wpp::LoadLe16;

HRESULT CodecCanUnload();

constexpr uint8_t kText[] = "Not a picture: a line of text, longer than a WPP header.\r\n";

// A frame's pixels in rect into a buffer of exactly the size WIC asks for,
// rows stride apart, every byte between them left as it was (0xAB).
void CheckRect(IWICBitmapFrameDecode* frame, const Picture& p, const WICRect& r, uint32_t stride,
               bool whole) {
  const uint32_t row = 2 * r.Width, size = stride * (r.Height - 1) + row;
  PageEnd buffer = AtPageEnd(size);
  memset(buffer.bytes, 0xAB, size);
  if (ExpectEqual(frame->CopyPixels(whole ? nullptr : &r, stride, size, buffer.bytes), S_OK,
                  "CopyPixels")) {
    bool same = true;
    for (int32_t y = 0; y < r.Height && same; ++y) {
      const uint8_t* want = p.bytes + 24 + 2 * ((r.Y + y) * p.width + r.X);
      const uint8_t* have = buffer.bytes + y * stride;
      for (uint32_t i = 0; i < stride && y * stride + i < size; ++i)
        same = same && have[i] == (i < row ? want[i] : 0xAB);
    }
    Expect(same, whole ? "the whole frame, every byte as stored" : "a rect, as stored");
  }
  VirtualFree(buffer.region, 0, MEM_RELEASE);
}

// RGB565 to WIC's 32-bit BGRA: each channel's top bits repeated below it.
uint32_t Bgra(uint16_t p) {
  const uint32_t r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
  return 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

}  // namespace

void CheckFrame(IWICBitmapFrameDecode* frame, const Picture& p) {
  UINT width = 0, height = 0;
  frame->GetSize(&width, &height);
  ExpectEqual(width, p.width, "GetSize's width");
  ExpectEqual(height, p.height, "GetSize's height");
  GUID format = {};
  frame->GetPixelFormat(&format);
  Expect(SameGuid(format, GUID_WICPixelFormat16bppBGR565), "16bppBGR565");
  double dpiX = 0, dpiY = 0;
  frame->GetResolution(&dpiX, &dpiY);
  Expect(dpiX == 96 && dpiY == 96, "96 dots per inch");

  const int32_t w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
  CheckRect(frame, p, {0, 0, w, h}, 2 * p.width, true);
  CheckRect(frame, p, {0, 0, w, h}, 2 * p.width + 6, true);
  const WICRect rects[] = {{0, 0, w, h},
                           {0, 0, w, 1},
                           {0, h - 1, w, 1},
                           {0, 0, 1, h},
                           {w - 1, 0, 1, h},
                           {w - 1, h - 1, 1, 1},
                           {w / 3, h / 3, (w + 1) / 2, (h + 1) / 2}};
  for (const WICRect& r : rects) {
    CheckRect(frame, p, r, 2 * r.Width, false);
    CheckRect(frame, p, r, 2 * r.Width + 2, false);
  }

  IWICBitmapSource* bgra = nullptr;
  if (ExpectEqual(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame, &bgra), S_OK,
                  "WICConvertBitmapSource to 32bppBGRA")) {
    const uint32_t count = p.width * p.height;
    auto* have = static_cast<uint32_t*>(LocalAlloc(LMEM_FIXED, 4 * count));
    if (ExpectEqual(
            bgra->CopyPixels(nullptr, 4 * p.width, 4 * count, reinterpret_cast<BYTE*>(have)), S_OK,
            "the converted pixels")) {
      uint32_t i = 0;
      while (i < count && have[i] == Bgra(LoadLe16(p.bytes + 24 + 2 * i))) ++i;
      ExpectEqual(i, count, "pixels as WIC's converter makes them, up to");
    }
    LocalFree(have);
    bgra->Release();
  }
}

namespace {

// The decoder's frame, checked; the decoder is released.
void CheckDecoder(HRESULT made, IWICBitmapDecoder* decoder, const Picture& p) {
  if (!ExpectEqual(made, S_OK, "a decoder")) return;
  GUID container = {};
  decoder->GetContainerFormat(&container);
  Expect(SameGuid(container, kContainerFormat), "the WPP container format");
  UINT frames = 0;
  ExpectEqual(decoder->GetFrameCount(&frames), S_OK, "GetFrameCount");
  ExpectEqual(frames, 1, "one frame");
  IWICBitmapFrameDecode* frame = nullptr;
  ExpectEqual(decoder->GetFrame(1, &frame), WINCODEC_ERR_FRAMEMISSING, "GetFrame(1)");
  if (ExpectEqual(decoder->GetFrame(0, &frame), S_OK, "GetFrame(0)")) {
    CheckFrame(frame, p);
    frame->Release();
  }
  decoder->Release();
}

// An IStream over bytes in memory that the test steers: reads that deliver
// at most chunk bytes, that fail from a given call on, a length claimed
// beyond the bytes there are, and seeks that dawdle (so that two threads'
// seeks and reads interleave unless the decoder keeps them apart), reads
// that say they brought more than asked for, and a position it will not seek
// back to. It counts reads begun past its end.
class TestStream final : public IStream {
 public:
  TestStream(const uint8_t* bytes, uint32_t size) : bytes_(bytes), size_(size) {}
  uint32_t chunk = 0xFFFFFFFF, failFromRead = 0xFFFFFFFF, claimedExtra = 0;
  uint32_t overclaim = 0;       // bytes a read says it delivered beyond those asked for
  uint64_t failSeekTo = ~0ull;  // a position that seeks to it refuse
  bool dawdle = false;
  uint32_t readsPastEnd = 0;
  LONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!SameGuid(iid, IID_IUnknown) && !SameGuid(iid, IID_IStream) &&
        !SameGuid(iid, IID_ISequentialStream)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IStream*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }

  HRESULT STDMETHODCALLTYPE Read(void* into, ULONG count, ULONG* got) override {
    if (got != nullptr) *got = 0;
    if (reads_++ >= failFromRead) return STG_E_READFAULT;
    if (position_ > size_) ++readsPastEnd;
    const uint64_t left = position_ < size_ ? size_ - position_ : 0;
    uint64_t n = count < chunk ? count : chunk;
    if (n > left) n = left;
    memcpy(into, bytes_ + position_, static_cast<size_t>(n));
    position_ += n;
    if (got != nullptr) *got = static_cast<ULONG>(n + overclaim);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    const int64_t base = origin == STREAM_SEEK_SET   ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(position_)
                                                     : int64_t{size_} + claimedExtra;
    // Only a seek to the position refuses; asking where the stream stands does not.
    if (base + move.QuadPart < 0 ||
        (origin == STREAM_SEEK_SET && static_cast<uint64_t>(move.QuadPart) == failSeekTo))
      return STG_E_INVALIDFUNCTION;
    position_ = static_cast<uint64_t>(base + move.QuadPart);
    if (at != nullptr) at->QuadPart = position_;
    if (dawdle) Sleep(1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = uint64_t{size_} + claimedExtra;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  const uint8_t* bytes_;
  uint32_t size_;
  uint64_t position_ = 0;
  uint32_t reads_ = 0;
};

HRESULT DecoderForStream(IStream* stream, IWICBitmapDecoder** decoder) {
  return factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder);
}

// The one frame's whole picture into a buffer; the result of the first call that fails.
HRESULT DecodeWhole(IWICBitmapDecoder* decoder, const Picture& p, uint8_t* into) {
  IWICBitmapFrameDecode* frame = nullptr;
  HRESULT result = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(result)) {
    result = frame->CopyPixels(nullptr, 2 * p.width, 2 * p.width * p.height, into);
    frame->Release();
  }
  return result;
}

void CheckSizes() {
  for (const auto& size : kPictureSizes) {
    const Picture p = MakePicture(size[0], size[1]);
    caseWidth = p.width;
    caseHeight = p.height;
    char16_t path[kPathChars];
    if (!WriteTempFile(u"wpp_wic_test.wpp", p.bytes, p.size, path)) return;
    IWICBitmapDecoder* decoder = nullptr;
    caseName = "CreateDecoderFromFilename";
    HRESULT made = DecoderForFile(path, &decoder);
    CheckDecoder(made, decoder, p);

    caseName = "CreateDecoderFromStream over memory";
    PageEnd memory = AtPageEnd(p.size);
    memcpy(memory.bytes, p.bytes, p.size);
    IWICStream* stream = nullptr;
    factory->CreateStream(&stream);
    stream->InitializeFromMemory(memory.bytes, p.size);
    made = DecoderForStream(stream, &decoder);
    CheckDecoder(made, decoder, p);
    stream->Release();
    VirtualFree(memory.region, 0, MEM_RELEASE);

    caseName = "CreateDecoderFromStream over a file";
    factory->CreateStream(&stream);
    stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path), GENERIC_READ);
    made = DecoderForStream(stream, &decoder);
    CheckDecoder(made, decoder, p);
    stream->Release();
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    LocalFree(p.bytes);
  }
  caseWidth = caseHeight = 0;
}

void CheckBadFiles() {
  const Picture p = MakePicture(5, 4);
  char16_t path[kPathChars];
  caseName = "a bad file";
  const auto refused = [&](const uint8_t* bytes, uint32_t size, const char* what) {
    if (!WriteTempFile(u"wpp_wic_bad.wpp", bytes, size, path)) return;
    IWICBitmapDecoder* decoder = nullptr;
    Expect(FAILED(DecoderForFile(path, &decoder)), what);
    if (decoder != nullptr) decoder->Release();
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
  };
  for (uint32_t length = 0; length <= 24; ++length) refused(p.bytes, length, "cut in the header");
  refused(p.bytes, p.size - 1, "cut before the last pixel");
  refused(p.bytes, p.size / 2, "cut inside the pixels");
  const struct {
    uint32_t offset, value;
    const char* what;
  } edits[] = {{16, 2 * 5 * 4 + 6, "dataLength 2 more"},
               {16, 2 * 5 * 4 + 2, "dataLength 2 less"},
               {20, 0, "width 0"},
               {22, 0, "height 0"}};
  for (const auto& e : edits) {
    uint8_t bytes[64];
    memcpy(bytes, p.bytes, p.size);
    if (e.offset == 16)
      wpp::StoreLe32(bytes + 16, e.value);
    else
      wpp::StoreLe16(bytes + e.offset, static_cast<uint16_t>(e.value));
    refused(bytes, p.size, e.what);
  }
  refused(kText, sizeof kText - 1, "text");
  LocalFree(p.bytes);
}

// Streams that fail or come short: a failure, never a crash or a read past
// the end; the stream's references all given back.
void CheckStreams() {
  const Picture p = MakePicture(9, 7);
  auto* pixels = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.size));
  constexpr uint32_t kNever = 0xFFFFFFFF;
  const struct {
    const char* name;
    uint32_t chunk, failFromRead, missing;  // missing: bytes claimed but not there
    bool decodes;
  } cases[] = {{"a stream that delivers 5 bytes a read", 5, kNever, 0, true},
               {"a stream whose first read fails", kNever, 0, 0, false},
               {"a stream whose second read fails", kNever, 1, 0, false},
               {"a stream whose reads fail after the header", kNever, 3, 0, false},
               {"a stream that claims a pixel more than it holds", kNever, kNever, 2, false}};
  for (const auto& c : cases) {
    caseName = c.name;
    TestStream stream(p.bytes, p.size - c.missing);
    stream.chunk = c.chunk;
    stream.failFromRead = c.failFromRead;
    stream.claimedExtra = c.missing;
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT result = DecoderForStream(&stream, &decoder);
    if (SUCCEEDED(result)) {
      result = DecodeWhole(decoder, p, pixels);
      decoder->Release();
    }
    ExpectEqual(SUCCEEDED(result), c.decodes, "decodes");
    if (c.decodes) ExpectSameBytes(pixels, p.bytes + 24, p.size - 24, "the pixels");
    ExpectEqual(stream.readsPastEnd, 0, "reads begun past the end");
    ExpectEqual(stream.references, 1, "the stream's references given back");
  }
  LocalFree(pixels);
  LocalFree(p.bytes);
}

// What a decoder made by container format, not by the factory's search,
// answers: the capability test, a second Initialize, what WPP lacks, and
// CopyPixels' checks of its arguments.
void CheckDecoderCalls() {
  caseName = "a decoder made by container format";
  const Picture p = MakePicture(6, 5);
  TestStream stream(p.bytes, p.size);
  LARGE_INTEGER seven;
  seven.QuadPart = 7;
  stream.Seek(seven, STREAM_SEEK_SET, nullptr);
  IWICBitmapDecoder* decoder = nullptr;
  if (!ExpectEqual(factory->CreateDecoder(kContainerFormat, nullptr, &decoder), S_OK,
                   "CreateDecoder"))
    return;
  DWORD capability = 0;
  ExpectEqual(decoder->QueryCapability(&stream, &capability), S_OK, "QueryCapability");
  ExpectEqual(capability, WICBitmapDecoderCapabilityCanDecodeAllImages, "all images");
  ULARGE_INTEGER at = {};
  LARGE_INTEGER zero = {};
  stream.Seek(zero, STREAM_SEEK_CUR, &at);
  ExpectEqual(at.QuadPart, 7, "the stream's position as it was");
  TestStream other(kText, sizeof kText - 1);
  ExpectEqual(decoder->QueryCapability(&other, &capability), S_OK, "QueryCapability elsewhere");
  ExpectEqual(capability, 0, "nothing");
  UINT frames = 0;
  ExpectEqual(decoder->GetFrameCount(&frames), WINCODEC_ERR_NOTINITIALIZED, "no frames yet");
  ExpectEqual(decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand), S_OK, "Initialize");
  ExpectEqual(decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand), WINCODEC_ERR_WRONGSTATE,
              "a second Initialize");

  IWICBitmapSource* source = nullptr;
  ExpectEqual(decoder->GetPreview(&source), WINCODEC_ERR_UNSUPPORTEDOPERATION, "GetPreview");
  ExpectEqual(decoder->GetThumbnail(&source), WINCODEC_ERR_CODECNOTHUMBNAIL, "GetThumbnail");
  IWICMetadataQueryReader* reader = nullptr;
  ExpectEqual(decoder->GetMetadataQueryReader(&reader), WINCODEC_ERR_UNSUPPORTEDOPERATION,
              "GetMetadataQueryReader");
  IWICPalette* palette = nullptr;
  factory->CreatePalette(&palette);
  ExpectEqual(decoder->CopyPalette(palette), WINCODEC_ERR_PALETTEUNAVAILABLE, "CopyPalette");
  UINT contexts = 9;
  ExpectEqual(decoder->GetColorContexts(0, nullptr, &contexts), S_OK, "GetColorContexts");
  ExpectEqual(contexts, 0, "no colour contexts");
  IWICBitmapDecoderInfo* info = nullptr;
  GUID container = {};
  if (ExpectEqual(decoder->GetDecoderInfo(&info), S_OK, "GetDecoderInfo")) {
    info->GetContainerFormat(&container);
    Expect(SameGuid(container, kContainerFormat), "the decoder info's container format");
    info->Release();
  }

  IWICBitmapFrameDecode* frame = nullptr;
  if (ExpectEqual(decoder->GetFrame(0, &frame), S_OK, "GetFrame")) {
    CheckFrame(frame, p);
    ExpectEqual(frame->CopyPalette(palette), WINCODEC_ERR_PALETTEUNAVAILABLE, "frame CopyPalette");
    ExpectEqual(frame->GetThumbnail(&source), WINCODEC_ERR_CODECNOTHUMBNAIL, "frame GetThumbnail");
    const struct {
      WICRect rect;
      UINT stride, size;
      HRESULT want;
    } calls[] = {
        {{-1, 0, 1, 1}, 2, 2, E_INVALIDARG},
        {{0, -1, 1, 1}, 2, 2, E_INVALIDARG},
        {{0, 0, 7, 1}, 14, 14, E_INVALIDARG},
        {{0, 0, 1, 6}, 2, 12, E_INVALIDARG},
        {{5, 0, 2, 1}, 4, 4, E_INVALIDARG},
        {{0, 0, -1, 1}, 2, 2, E_INVALIDARG},
        {{0, 0, 1, -1}, 2, 2, E_INVALIDARG},
        {{0x7FFFFFFF, 0, 2, 1}, 4, 4, E_INVALIDARG},
        {{0, 0x7FFFFFFF, 1, 2}, 2, 4, E_INVALIDARG},
        {{0, 0, 6, 2}, 11, 40, E_INVALIDARG},
        {{0, 0, 6, 5}, 12, 59, WINCODEC_ERR_INSUFFICIENTBUFFER},
        {{0, 0, 6, 5}, 0xFFFFFFFF, 0xFFFFFFFF, WINCODEC_ERR_INSUFFICIENTBUFFER},
        {{0, 0, 0, 5}, 12, 60, S_OK},
        {{0, 0, 6, 0}, 12, 60, S_OK},
    };
    uint8_t buffer[64];
    for (const auto& c : calls)
      ExpectEqual(frame->CopyPixels(&c.rect, c.stride, c.size, buffer), c.want, "CopyPixels");
    ExpectEqual(frame->CopyPixels(nullptr, 12, 60, nullptr), E_INVALIDARG, "no buffer");
    frame->Release();
  }
  palette->Release();
  decoder->Release();
  ExpectEqual(stream.references, 1, "the stream's references given back");
  LocalFree(p.bytes);
}

// The property handler as Explorer finds it: the class that the registry
// names for .wpp, never spelled here.
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

namespace {

// Streams that lie: a read that says it brought more than it was asked
// for, and a stream that cannot seek back to where its caller left it. The
// decoder and the property handler refuse both, and give back every
// reference.
void CheckLyingStreams() {
  const Picture p = MakePicture(6, 5);
  const struct {
    const char* name;
    uint32_t overclaim;
    bool failSeekBack;
  } cases[] = {{"a stream that claims a byte more than asked for", 1, false},
               {"a stream that claims 4 GiB", 0xFFFFFFFF - 24, false},
               {"a stream that cannot seek back", 0, true}};
  for (const auto& c : cases) {
    caseName = c.name;
    TestStream stream(p.bytes, p.size);
    stream.overclaim = c.overclaim;
    // Each call finds the stream where its caller left it, at 7.
    const auto atSeven = [&] {
      LARGE_INTEGER seven;
      seven.QuadPart = 7;
      stream.failSeekTo = ~0ull;
      stream.Seek(seven, STREAM_SEEK_SET, nullptr);
      if (c.failSeekBack) stream.failSeekTo = 7;
      return &stream;
    };
    IWICBitmapDecoder* decoder = nullptr;
    if (ExpectEqual(factory->CreateDecoder(kContainerFormat, nullptr, &decoder), S_OK,
                    "CreateDecoder")) {
      DWORD capability = 0;
      Expect(FAILED(decoder->QueryCapability(atSeven(), &capability)), "QueryCapability fails");
      Expect(FAILED(decoder->Initialize(atSeven(), WICDecodeMetadataCacheOnDemand)),
             "Initialize fails");
      decoder->Release();
    }
    Answers a;
    Expect(!AskHandler(atSeven(), &a), "the property handler's Initialize fails");
    ExpectEqual(stream.references, 1, "the stream's references given back");
  }
  LocalFree(p.bytes);
}

// What every COM object of the codec answers, through the codec's own entry
// points, for the classes that WIC and the registry name: each interface ID
// that matters, with IUnknown's identity and *out nulled on refusal; the
// class factory's refusals; and the server's holds against DllCanUnloadNow.
void CheckComContract() {
  caseName = "the COM contract";
  HMODULE codec = GetModuleHandleW(L"wppwic.dll");
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto* getClassObject =
      codec == nullptr ? nullptr
                       : reinterpret_cast<GetClassObject>(
                             reinterpret_cast<void*>(GetProcAddress(codec, "DllGetClassObject")));
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapDecoderInfo* info = nullptr;
  CLSID decoderClass = {};
  if (!Expect(getClassObject != nullptr, "the codec's DllGetClassObject") ||
      !ExpectEqual(factory->CreateDecoder(kContainerFormat, nullptr, &decoder), S_OK, "a decoder"))
    return;
  if (SUCCEEDED(decoder->GetDecoderInfo(&info))) {
    info->GetCLSID(&decoderClass);
    info->Release();
  }
  IPersist* junk = reinterpret_cast<IPersist*>(0x1);  // never called: a refusal must null it
  IUnknown* handler = nullptr;
  CreatePropertyHandler(IID_IUnknown, reinterpret_cast<void**>(&handler));
  const Picture p = MakePicture(6, 5);
  TestStream stream(p.bytes, p.size);
  IWICBitmapFrameDecode* frame = nullptr;
  decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand);
  decoder->GetFrame(0, &frame);
  IClassFactory* classFactory = nullptr;
  ExpectEqual(
      getClassObject(decoderClass, IID_IClassFactory, reinterpret_cast<void**>(&classFactory)),
      S_OK, "DllGetClassObject for the decoder's class");

  // Which interface each object answers for, one bit an object.
  enum : uint8_t { kFactory = 1, kDecoder = 2, kFrame = 4, kHandler = 8 };
  IUnknown* const objects[] = {classFactory, decoder, frame, handler};
  const struct {
    const IID* iid;
    uint8_t answers;
  } matrix[] = {
      {&IID_IUnknown, kFactory | kDecoder | kFrame | kHandler},
      {&IID_IClassFactory, kFactory},
      {&IID_IWICBitmapDecoder, kDecoder},
      {&IID_IWICBitmapSource, kFrame},
      {&IID_IWICBitmapFrameDecode, kFrame},
      {&IID_IInitializeWithStream, kHandler},
      {&IID_IPropertyStore, kHandler},
      {&IID_IPropertyStoreCapabilities, kHandler},
      {&IID_IWICBitmapEncoder, 0},
      {&IID_IMarshal, 0},
      {&IID_IStream, 0},
      {&IID_IPersist, 0},
  };
  for (uint32_t o = 0; o < 4; ++o) {
    IUnknown* object = objects[o];
    if (!Expect(object != nullptr, "the object made")) continue;
    IUnknown* identity = nullptr;
    object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    for (const auto& m : matrix) {
      void* out = junk;
      const bool answers = (m.answers & (1u << o)) != 0;
      const HRESULT result = object->QueryInterface(*m.iid, &out);
      if (!answers) {
        ExpectEqual(result, E_NOINTERFACE, "QueryInterface refuses");
        Expect(out == nullptr, "a refusal nulls *out");
        continue;
      }
      if (!ExpectEqual(result, S_OK, "QueryInterface answers") || out == nullptr) continue;
      IUnknown* again = nullptr;
      static_cast<IUnknown*>(out)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again));
      Expect(again == identity, "IUnknown is the object's one identity");
      if (again != nullptr) again->Release();
      static_cast<IUnknown*>(out)->Release();
    }
    if (identity != nullptr) identity->Release();
  }

  void* out = junk;
  const GUID foreign = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  ExpectEqual(getClassObject(foreign, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE,
              "DllGetClassObject for a foreign class");
  Expect(out == nullptr, "and *out nulled");
  out = junk;
  ExpectEqual(getClassObject(decoderClass, IID_IStream, &out), E_NOINTERFACE,
              "DllGetClassObject for a foreign interface");
  Expect(out == nullptr, "and *out nulled");
  if (classFactory != nullptr) {
    out = junk;
    ExpectEqual(
        classFactory->CreateInstance(reinterpret_cast<IUnknown*>(&stream), IID_IUnknown, &out),
        CLASS_E_NOAGGREGATION, "aggregation refused");
    Expect(out == nullptr, "and *out nulled");
  }

  // Every object, and the factory, holds the server; a lock does too.
  if (frame != nullptr) frame->Release();
  if (handler != nullptr) handler->Release();
  decoder->Release();
  ExpectEqual(CodecCanUnload(), S_FALSE, "DllCanUnloadNow while the factory is held");
  if (classFactory != nullptr) {
    classFactory->LockServer(TRUE);
    IUnknown* made = nullptr;
    classFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made));
    classFactory->Release();
    ExpectEqual(CodecCanUnload(), S_FALSE, "DllCanUnloadNow while an object lives and a lock");
    if (made != nullptr) made->Release();
    ExpectEqual(CodecCanUnload(), S_FALSE, "DllCanUnloadNow while locked");
    getClassObject(decoderClass, IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
    classFactory->LockServer(FALSE);
    classFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made));
    classFactory->Release();
    ExpectEqual(CodecCanUnload(), S_FALSE, "DllCanUnloadNow while an object lives");
    if (made != nullptr) made->Release();
  }
  ExpectEqual(CodecCanUnload(), S_OK, "DllCanUnloadNow once all is released");
  ExpectEqual(stream.references, 1, "the stream's references given back");
  LocalFree(p.bytes);
}

// A picture written through WIC's own encoder of a format, as a file.
bool Encode(const GUID& container, IWICBitmapSource* source, const GUID& pixelFormat,
            const char16_t* path) {
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  UINT width = 0, height = 0;
  source->GetSize(&width, &height);
  WICPixelFormatGUID format = pixelFormat;
  bool ok = SUCCEEDED(factory->CreateStream(&stream)) &&
            SUCCEEDED(stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path),
                                                     GENERIC_WRITE)) &&
            SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
            SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) &&
            SUCCEEDED(frame->Initialize(options)) && SUCCEEDED(frame->SetSize(width, height)) &&
            SUCCEEDED(frame->SetPixelFormat(&format)) &&
            SUCCEEDED(frame->WriteSource(source, nullptr)) && SUCCEEDED(frame->Commit()) &&
            SUCCEEDED(encoder->Commit());
  IUnknown* const made[] = {options, frame, encoder, stream};
  for (IUnknown* object : made)
    if (object != nullptr) object->Release();
  return ok;
}

// Other formats' files open through WIC's own decoders with ours registered:
// each is made by WIC's own encoder (an icon, which WIC cannot write, by hand).
void CheckOtherFormats() {
  caseName = "another format";
  constexpr uint32_t kSide = 4;
  uint8_t pixels[kSide * kSide * 4];
  for (uint32_t i = 0; i < sizeof pixels; ++i) pixels[i] = static_cast<uint8_t>(i * 37);
  IWICBitmap* bitmap = nullptr;
  factory->CreateBitmapFromMemory(kSide, kSide, GUID_WICPixelFormat32bppBGRA, 4 * kSide,
                                  sizeof pixels, pixels, &bitmap);
  const struct {
    const GUID* container;
    const char16_t* name;
    const GUID* pixelFormat;
  } formats[] = {
      {&GUID_ContainerFormatBmp, u"wpp_wic_other.bmp", &GUID_WICPixelFormat24bppBGR},
      {&GUID_ContainerFormatPng, u"wpp_wic_other.png", &GUID_WICPixelFormat24bppBGR},
      {&GUID_ContainerFormatJpeg, u"wpp_wic_other.jpg", &GUID_WICPixelFormat24bppBGR},
      {&GUID_ContainerFormatGif, u"wpp_wic_other.gif", &GUID_WICPixelFormat8bppIndexed},
      {&GUID_ContainerFormatTiff, u"wpp_wic_other.tif", &GUID_WICPixelFormat24bppBGR},
      {&GUID_ContainerFormatIco, u"wpp_wic_other.ico", nullptr},
  };
  // A 4x4 32-bit icon: directory, entry, its DIB header (twice the height,
  // for the mask), the pixels bottom-up and a mask of 4 rows of 4 bytes.
  uint8_t icon[6 + 16 + 40 + sizeof pixels + 16] = {0, 0, 1, 0, 1, 0, kSide, kSide, 0, 0, 1, 0, 32};
  wpp::StoreLe32(icon + 14, sizeof icon - 22);
  wpp::StoreLe32(icon + 18, 22);
  wpp::StoreLe32(icon + 22, 40);
  wpp::StoreLe32(icon + 26, kSide);
  wpp::StoreLe32(icon + 30, 2 * kSide);
  wpp::StoreLe16(icon + 34, 1);
  wpp::StoreLe16(icon + 36, 32);
  memcpy(icon + 62, pixels, sizeof pixels);
  for (const auto& f : formats) {
    char16_t path[kPathChars];
    GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(path));
    Append(path, f.name);
    const bool made = f.pixelFormat != nullptr ? Encode(*f.container, bitmap, *f.pixelFormat, path)
                                               : WriteTempFile(f.name, icon, sizeof icon, path);
    IWICBitmapDecoder* decoder = nullptr;
    GUID container = {};
    if (Expect(made, "made") && ExpectEqual(DecoderForFile(path, &decoder), S_OK, "opens")) {
      decoder->GetContainerFormat(&container);
      decoder->Release();
    }
    Expect(SameGuid(container, *f.container), "through its own decoder");
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
  }
  bitmap->Release();
}

// The codec's own word on whether every object of it is gone.
HRESULT CodecCanUnload() {
  HMODULE codec = GetModuleHandleW(L"wppwic.dll");
  if (codec == nullptr) return S_OK;  // unloaded already
  auto* canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(codec, "DllCanUnloadNow")));
  return canUnload != nullptr ? canUnload() : E_FAIL;
}

uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage;
}

void CheckLifetimes() {
  caseName = "create, decode, release";
  const Picture p = MakePicture(512, 512);
  auto* pixels = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.size));
  TestStream stream(p.bytes, p.size);
  uint64_t before = 0;
  bool decoded = true;
  constexpr uint32_t kWarmUp = 20, kCycles = 200;
  for (uint32_t cycle = 0; cycle < kWarmUp + kCycles; ++cycle) {
    if (cycle == kWarmUp) before = PrivateBytes();
    LARGE_INTEGER zero = {};
    stream.Seek(zero, STREAM_SEEK_SET, nullptr);
    IWICBitmapDecoder* decoder = nullptr;
    decoded = decoded && SUCCEEDED(DecoderForStream(&stream, &decoder)) &&
              SUCCEEDED(DecodeWhole(decoder, p, pixels));
    if (decoder != nullptr) decoder->Release();
  }
  Expect(decoded, "every cycle decodes");
  // A picture (512 KiB) or a decoder kept a cycle would pass this many times over.
  constexpr uint64_t kSlack = 256 * 1024;
  const uint64_t after = PrivateBytes();
  Expect(after <= before + kSlack, "200 cycles leave the process no larger");
  ExpectEqual(stream.references, 1, "the stream's references given back");
  ExpectEqual(CodecCanUnload(), S_OK, "DllCanUnloadNow once every object is released");
  LocalFree(pixels);
  LocalFree(p.bytes);
}

// Two threads, each with its own frame of one decoder, decoding bands.
struct ThreadWork {
  IWICBitmapDecoder* decoder;
  const Picture* picture;
  uint32_t firstRow;
  bool exact;
};
DWORD WINAPI DecodeBands(void* parameter) {
  auto* work = static_cast<ThreadWork*>(parameter);
  const Picture& p = *work->picture;
  IWICBitmapFrameDecode* frame = nullptr;
  work->exact = SUCCEEDED(work->decoder->GetFrame(0, &frame));
  uint8_t band[2 * 300 * 4];
  for (uint32_t round = 0; round < 16 && work->exact; ++round) {
    const int32_t y = static_cast<int32_t>((work->firstRow + 7 * round) % (p.height - 4));
    const WICRect rect = {round % 2 == 0 ? 0 : 1, y, round % 2 == 0 ? 300 : 299, 4};
    const uint32_t row = 2 * static_cast<uint32_t>(rect.Width);
    work->exact = SUCCEEDED(frame->CopyPixels(&rect, row, row * 4, band));
    for (int32_t r = 0; r < 4 && work->exact; ++r)
      for (uint32_t i = 0; i < row && work->exact; ++i)
        work->exact = band[r * row + i] == p.bytes[24 + 2 * ((y + r) * p.width + rect.X) + i];
  }
  if (frame != nullptr) frame->Release();
  return 0;
}

// Two threads' Initialize on one decoder: one takes its stream, the other
// is told that the decoder has one, and no reference is kept twice.
struct InitializeWork {
  IWICBitmapDecoder* decoder;
  IStream* stream;
  HRESULT result;
};
DWORD WINAPI InitializeOne(void* parameter) {
  auto* work = static_cast<InitializeWork*>(parameter);
  work->result = work->decoder->Initialize(work->stream, WICDecodeMetadataCacheOnDemand);
  return 0;
}

void CheckThreads() {
  caseName = "two threads initializing one decoder";
  const Picture small = MakePicture(4, 3);
  TestStream first(small.bytes, small.size), second(small.bytes, small.size);
  first.dawdle = second.dawdle = true;
  IWICBitmapDecoder* made = nullptr;
  if (ExpectEqual(factory->CreateDecoder(kContainerFormat, nullptr, &made), S_OK, "a decoder")) {
    InitializeWork work[2] = {{made, &first, E_FAIL}, {made, &second, E_FAIL}};
    HANDLE threads[2];
    // Started together, so that both are inside Initialize at once unless it
    // keeps them apart.
    for (int i = 0; i < 2; ++i)
      threads[i] = CreateThread(nullptr, 0, InitializeOne, &work[i], CREATE_SUSPENDED, nullptr);
    for (HANDLE thread : threads) ResumeThread(thread);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    ExpectEqual((work[0].result == S_OK) + (work[1].result == S_OK), 1, "one Initialize succeeds");
    ExpectEqual(
        (work[0].result == WINCODEC_ERR_WRONGSTATE) + (work[1].result == WINCODEC_ERR_WRONGSTATE),
        1, "the other is told the decoder has a stream");
    made->Release();
  }
  ExpectEqual(first.references + second.references, 2, "the streams' references given back");
  LocalFree(small.bytes);

  caseName = "two threads on one decoder";
  const Picture p = MakePicture(300, 200);
  TestStream stream(p.bytes, p.size);
  stream.dawdle = true;
  IWICBitmapDecoder* decoder = nullptr;
  if (ExpectEqual(DecoderForStream(&stream, &decoder), S_OK, "a decoder")) {
    ThreadWork work[2] = {{decoder, &p, 0, false}, {decoder, &p, 100, false}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
      threads[i] = CreateThread(nullptr, 0, DecodeBands, &work[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
      CloseHandle(threads[i]);
      Expect(work[i].exact, "every band exact");
    }
    decoder->Release();
  }
  LocalFree(p.bytes);
}

}  // namespace

void CheckDecoding() {
  CheckSizes();
  CheckBadFiles();
  CheckStreams();
  CheckLyingStreams();
  CheckDecoderCalls();
  CheckComContract();
  CheckOtherFormats();
  CheckThreads();
  CheckLifetimes();
}

void CheckDecodingBriefly() {
  caseName = "decoding through WIC";
  const uint32_t sizes[][2] = {{1, 1}, {17, 5}, {317, 211}};
  for (const auto& size : sizes) {
    const Picture p = MakePicture(size[0], size[1]);
    caseWidth = p.width;
    caseHeight = p.height;
    char16_t path[kPathChars];
    IWICBitmapDecoder* decoder = nullptr;
    if (WriteTempFile(u"wpp_wic_emulated.wpp", p.bytes, p.size, path)) {
      const HRESULT made = DecoderForFile(path, &decoder);
      CheckDecoder(made, decoder, p);
    }
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    LocalFree(p.bytes);
  }
  caseWidth = caseHeight = 0;
  caseName = "a bad file";
  char16_t path[kPathChars];
  IWICBitmapDecoder* decoder = nullptr;
  if (WriteTempFile(u"wpp_wic_emulated.wpp", kText, sizeof kText - 1, path))
    Expect(FAILED(DecoderForFile(path, &decoder)), "text refused");
  if (decoder != nullptr) decoder->Release();
  DeleteFileW(reinterpret_cast<const wchar_t*>(path));
}

bool ConvertToPng(const char16_t* folder, const char16_t* file) {
  char16_t path[kPathChars];
  OutputPath(folder, file, u".png", path);
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICBitmapSource* bgra = nullptr;
  // 24 bits a pixel keep all six of green's bits. Wine's WIC converts
  // 16bppBGR565 to 32bppBGRA but not to 24bppBGR, so by way of the former.
  const bool ok = SUCCEEDED(DecoderForFile(file, &decoder)) &&
                  SUCCEEDED(decoder->GetFrame(0, &frame)) &&
                  SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame, &bgra)) &&
                  Encode(GUID_ContainerFormatPng, bgra, GUID_WICPixelFormat24bppBGR, path);
  if (bgra != nullptr) bgra->Release();
  if (frame != nullptr) frame->Release();
  if (decoder != nullptr) decoder->Release();
  return ok;
}

}  // namespace wictest
