// The WIC test's cases of the codec's objects as COM and WIC ask them: a
// decoder made by container format, every object's interfaces and the
// server's holds, reference counts and leaks over many cycles, and two
// threads on one decoder.

#include "tests/wic/wic_test.h"
// After <windows.h>, which wic_test.h brings.
#include <psapi.h>

namespace wictest {
namespace {

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

void CheckObjects() {
  CheckDecoderCalls();
  CheckComContract();
  CheckLifetimes();
  if (ThreadsRun()) {
    CheckThreads();
  } else {
    Print("left out: two threads on one decoder (WPP_NO_THREADS)\r\n");
  }
}

HRESULT CodecCanUnload() {
  HMODULE codec = GetModuleHandleW(L"wppwic.dll");
  if (codec == nullptr) return S_OK;  // unloaded already
  auto* canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(codec, "DllCanUnloadNow")));
  return canUnload != nullptr ? canUnload() : E_FAIL;
}

}  // namespace wictest
