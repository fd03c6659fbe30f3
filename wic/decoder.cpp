// The decoder and its one frame. The stream is the picture's storage: the
// decoder keeps its header's numbers and reads each CopyPixels call's rows
// from the stream, under a lock, so calls from several threads never
// interleave their seeks and reads. Pixels go out exactly as stored: WPP's
// RGB565 words are WIC's 16bppBGR565.

#include "wic/codec.h"

namespace wic {
namespace {

// Reads up to count bytes at the stream's position, as many calls as it
// takes; *got tells how many came before the stream ended.
HRESULT ReadUpTo(IStream* stream, uint8_t* destination, uint32_t count, uint32_t* got) {
  *got = 0;
  while (*got < count) {
    ULONG delivered = 0;
    const HRESULT result = stream->Read(destination + *got, count - *got, &delivered);
    if (FAILED(result)) return WINCODEC_ERR_STREAMREAD;
    if (delivered == 0) break;
    // A stream that claims more than it was asked for is not believed.
    if (delivered > count - *got) return WINCODEC_ERR_STREAMREAD;
    *got += delivered;
  }
  return S_OK;
}

HRESULT SeekTo(IStream* stream, uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return SUCCEEDED(stream->Seek(to, STREAM_SEEK_SET, nullptr)) ? S_OK : WINCODEC_ERR_STREAMREAD;
}

}  // namespace

// A picture starts at the stream's start, as WIC's own decoders take it (WIC
// leaves the stream where its pattern search read last).
HRESULT ReadHead(IStream* stream, StreamHead* head) {
  ULARGE_INTEGER position, end;
  LARGE_INTEGER zero = {};
  if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position))) return WINCODEC_ERR_STREAMREAD;
  HRESULT result = SeekTo(stream, 0);
  if (SUCCEEDED(result)) result = ReadUpTo(stream, head->bytes, sizeof head->bytes, &head->count);
  if (SUCCEEDED(result) && FAILED(stream->Seek(zero, STREAM_SEEK_END, &end)))
    result = WINCODEC_ERR_STREAMREAD;
  // Put back even after a failure: the caller's stream is as it was.
  if (FAILED(SeekTo(stream, position.QuadPart)) && SUCCEEDED(result))
    result = WINCODEC_ERR_STREAMREAD;
  head->streamBytes = end.QuadPart;
  return result;
}

namespace {

// What the stream holds: the verdict on its first bytes and the header's numbers.
struct Probe {
  StreamVerdict verdict;
  WppHeader header;
};
HRESULT ProbeStream(IStream* stream, Probe* probe) {
  StreamHead head;
  const HRESULT result = ReadHead(stream, &head);
  if (FAILED(result)) return result;
  probe->verdict = JudgeStream(head.bytes, head.count, head.streamBytes);
  if (probe->verdict == StreamVerdict::Wpp) probe->header = ParseWppHeader(head.bytes);
  return S_OK;
}

// A stream read for CopyRows: seeks only where the last read did not end.
struct StreamSource {
  IStream* stream;
  uint64_t position;  // all ones before the first read
};
bool ReadStreamAt(void* source, uint64_t offset, uint8_t* destination, uint32_t count) {
  auto* s = static_cast<StreamSource*>(source);
  if (s->position != offset && FAILED(SeekTo(s->stream, offset))) return false;
  uint32_t got = 0;
  const bool ok = SUCCEEDED(ReadUpTo(s->stream, destination, count, &got)) && got == count;
  s->position = ok ? offset + count : ~0ull;
  return ok;
}

// What the decoder and its frame answer alike for what WPP does not have:
// no palette, no metadata, no colour contexts, no thumbnail.
template <typename Interface>
HRESULT None(Interface** out, HRESULT why) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  return why;
}
template <typename Interface>
class WithoutExtras : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override {
    return WINCODEC_ERR_PALETTEUNAVAILABLE;
  }
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    return None(reader, WINCODEC_ERR_UNSUPPORTEDOPERATION);
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* actual) override {
    if (actual == nullptr) return E_INVALIDARG;
    *actual = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
    return None(thumbnail, WINCODEC_ERR_CODECNOTHUMBNAIL);
  }
};

class Decoder final : public ComObject<Decoder, WithoutExtras<IWICBitmapDecoder>> {
 public:
  void* Find(REFIID iid) {
    if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, IID_IWICBitmapDecoder))
      return static_cast<IWICBitmapDecoder*>(this);
    return nullptr;
  }

  Decoder() { InitializeCriticalSection(&lock_); }
  ~Decoder() {
    if (stream_ != nullptr) stream_->Release();
    DeleteCriticalSection(&lock_);
  }

  HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
    if (stream == nullptr || capability == nullptr) return E_INVALIDARG;
    Probe probe;
    const HRESULT result = ProbeStream(stream, &probe);
    if (FAILED(result)) return result;
    *capability =
        probe.verdict == StreamVerdict::Wpp ? WICBitmapDecoderCapabilityCanDecodeAllImages : 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions) override {
    if (stream == nullptr) return E_INVALIDARG;
    Locked locked(this);
    if (stream_ != nullptr) return WINCODEC_ERR_WRONGSTATE;
    Probe probe;
    const HRESULT result = ProbeStream(stream, &probe);
    if (FAILED(result)) return result;
    if (probe.verdict == StreamVerdict::NotWpp) return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    if (probe.verdict == StreamVerdict::Truncated) return WINCODEC_ERR_BADHEADER;
    stream->AddRef();
    stream_ = stream;
    width_ = probe.header.width;
    height_ = probe.header.height;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = kContainerFormat;
    return S_OK;
  }

  // What the registry says of us, as the imaging factory reads it.
  HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    IWICImagingFactory* factory = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result)) return result;
    IWICComponentInfo* component = nullptr;
    result = factory->CreateComponentInfo(kDecoderClsid, &component);
    factory->Release();
    if (FAILED(result)) return result;
    result = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(info));
    component->Release();
    return result;
  }

  HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override {
    return None(preview, WINCODEC_ERR_UNSUPPORTEDOPERATION);
  }

  HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    if (!Initialized()) return WINCODEC_ERR_NOTINITIALIZED;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override;

  // The frame's questions, answered from the header read at Initialize.
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
    if (buffer == nullptr) return E_INVALIDARG;
    FrameRect r;
    if (rect != nullptr) r = {rect->X, rect->Y, rect->Width, rect->Height};
    CopyPlan plan;
    switch (PlanCopy(width_, height_, rect != nullptr ? &r : nullptr, stride, bufferSize, &plan)) {
      case CopyCheck::InvalidArgument:
        return E_INVALIDARG;
      case CopyCheck::InsufficientBuffer:
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
      case CopyCheck::Nothing:
        return S_OK;
      case CopyCheck::Copy:
        break;
    }
    Locked locked(this);
    StreamSource source = {stream_, ~0ull};
    return CopyRows(plan, ReadStreamAt, &source, buffer) ? S_OK : WINCODEC_ERR_STREAMREAD;
  }

 private:
  struct Locked {
    explicit Locked(Decoder* d) : decoder(d) { EnterCriticalSection(&decoder->lock_); }
    ~Locked() { LeaveCriticalSection(&decoder->lock_); }
    Decoder* decoder;
  };
  bool Initialized() {
    Locked locked(this);
    return stream_ != nullptr;
  }

  CRITICAL_SECTION lock_;
  IStream* stream_ = nullptr;  // ours once Initialize accepts it
  uint32_t width_ = 0, height_ = 0;
};

// A frame holds its decoder, and with it the stream, until it is released.
class Frame final : public ComObject<Frame, WithoutExtras<IWICBitmapFrameDecode>> {
 public:
  void* Find(REFIID iid) {
    if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, IID_IWICBitmapSource) ||
        SameGuid(iid, IID_IWICBitmapFrameDecode))
      return static_cast<IWICBitmapFrameDecode*>(this);
    return nullptr;
  }

  explicit Frame(Decoder* decoder) : decoder_(decoder) { decoder_->AddRef(); }
  ~Frame() { decoder_->Release(); }

  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    *width = decoder_->Width();
    *height = decoder_->Height();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = GUID_WICPixelFormat16bppBGR565;
    return S_OK;
  }
  // WPP records no resolution: the one WIC assumes for a picture without one.
  HRESULT STDMETHODCALLTYPE GetResolution(double* dpiX, double* dpiY) override {
    if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
    *dpiX = *dpiY = 96.0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize,
                                       BYTE* buffer) override {
    return decoder_->CopyPixels(rect, stride, bufferSize, buffer);
  }

 private:
  Decoder* decoder_;
};

HRESULT Decoder::GetFrame(UINT index, IWICBitmapFrameDecode** frame) {
  if (frame == nullptr) return E_INVALIDARG;
  *frame = nullptr;
  if (!Initialized()) return WINCODEC_ERR_NOTINITIALIZED;
  if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
  Frame* made = NewObject<Frame>(this);
  if (made == nullptr) return E_OUTOFMEMORY;
  *frame = made;
  return S_OK;
}

}  // namespace

HRESULT CreateDecoder(REFIID iid, void** out) { return CreateObject<Decoder>(iid, out); }

}  // namespace wic
