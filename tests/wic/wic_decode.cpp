// The WIC test's decoding cases: WPP pictures through the factory's search
// from files, memory and streams, their pixels and rects exactly as stored
// and through WIC's converter; bad files; streams that fail, come short or
// lie; other formats untouched.

#include "tests/wic/wic_test.h"
#include "wpp/bytes.h"

namespace wictest {
namespace {

using wpp::LoadLe16;

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

}  // namespace

HRESULT DecoderForStream(IStream* stream, IWICBitmapDecoder** decoder) {
  return factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder);
}

HRESULT DecodeWhole(IWICBitmapDecoder* decoder, const Picture& p, uint8_t* into) {
  IWICBitmapFrameDecode* frame = nullptr;
  HRESULT result = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(result)) {
    result = frame->CopyPixels(nullptr, 2 * p.width, 2 * p.width * p.height, into);
    frame->Release();
  }
  return result;
}

namespace {

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

// Streams of every kind the decoder must survive: reads that deliver a few
// bytes, that fail from some call on, a length claimed beyond the bytes
// there are; and streams that lie, with a read that says it brought more
// than it was asked for, or a position they will not seek back to. The
// honest kinds go through the factory's search and decode exactly or fail;
// the lying kinds, found where their caller left them, are refused by a
// decoder made by container format and by the property handler. None is
// read past its end, and every reference is given back.
void CheckStreams() {
  const Picture p = MakePicture(9, 7);
  auto* pixels = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.size));
  constexpr uint32_t kNever = 0xFFFFFFFF;
  const struct {
    const char* name;
    uint32_t chunk, failFromRead, missing;  // missing: bytes claimed but not there
    uint32_t overclaim;                     // bytes a read says it brought beyond those asked
    bool failSeekBack, lies, decodes;
  } cases[] = {
      {"a stream that delivers 5 bytes a read", 5, kNever, 0, 0, false, false, true},
      {"a stream whose first read fails", kNever, 0, 0, 0, false, false, false},
      {"a stream whose second read fails", kNever, 1, 0, 0, false, false, false},
      {"a stream whose reads fail after the header", kNever, 3, 0, 0, false, false, false},
      {"a stream that claims a pixel more than it holds", kNever, kNever, 2, 0, false, false,
       false},
      {"a stream that claims a byte more than asked for", kNever, kNever, 0, 1, false, true, false},
      {"a stream that claims 4 GiB", kNever, kNever, 0, 0xFFFFFFFF - 24, false, true, false},
      {"a stream that cannot seek back", kNever, kNever, 0, 0, true, true, false},
  };
  for (const auto& c : cases) {
    caseName = c.name;
    TestStream stream(p.bytes, p.size - c.missing);
    stream.chunk = c.chunk;
    stream.failFromRead = c.failFromRead;
    stream.claimedExtra = c.missing;
    stream.overclaim = c.overclaim;
    IWICBitmapDecoder* decoder = nullptr;
    if (!c.lies) {
      HRESULT result = DecoderForStream(&stream, &decoder);
      if (SUCCEEDED(result)) {
        result = DecodeWhole(decoder, p, pixels);
        decoder->Release();
      }
      ExpectEqual(SUCCEEDED(result), c.decodes, "decodes");
      if (c.decodes) ExpectSameBytes(pixels, p.bytes + 24, p.size - 24, "the pixels");
    } else {
      // Each call finds the stream where its caller left it, at 7.
      const auto atSeven = [&] {
        LARGE_INTEGER seven;
        seven.QuadPart = 7;
        stream.failSeekTo = ~0ull;
        stream.Seek(seven, STREAM_SEEK_SET, nullptr);
        if (c.failSeekBack) stream.failSeekTo = 7;
        return &stream;
      };
      if (ExpectEqual(factory->CreateDecoder(kContainerFormat, nullptr, &decoder), S_OK,
                      "CreateDecoder")) {
        DWORD capability = 0;
        Expect(FAILED(decoder->QueryCapability(atSeven(), &capability)), "QueryCapability fails");
        Expect(FAILED(decoder->Initialize(atSeven(), WICDecodeMetadataCacheOnDemand)),
               "Initialize fails");
        decoder->Release();
      }
      Expect(!HandlerTakes(atSeven()), "the property handler's Initialize fails");
    }
    ExpectEqual(stream.readsPastEnd, 0, "reads begun past the end");
    ExpectEqual(stream.references, 1, "the stream's references given back");
  }
  LocalFree(pixels);
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

}  // namespace

void CheckDecoding() {
  CheckSizes();
  CheckBadFiles();
  CheckStreams();
  CheckOtherFormats();
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
