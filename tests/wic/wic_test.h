// The WIC codec as every program that reads pictures through Windows uses it:
// a program over KERNEL32, ADVAPI32, OLE32 and WINDOWSCODECS alone, at every
// width, that registers the codec with regsvr32 as a user would and then
// calls only WIC's public interfaces, never naming the decoder's class. It
// prints one line per failed check and ends with "N passed, N failed".
//   wic_test                   every check (registration in wic_test.cpp,
//                              decoding in wic_decode.cpp)
//   wic_test --png FOLDER F... each WPP file through WIC to FOLDER\NAME.png
//   wic_test --bench           CopyPixels against the stream's own read
//                              (bench/wic_bench.cpp)
//   wic_test --details F...    the property handler's answers for each file
//   wic_test --installed --png|--details ...   the same of a codec that its
//                              installer registered: regsvr32 is not run
//
// Under an emulated 32-bit Wine, whose threads' ends crash the emulator,
// WPP_NO_THREADS=1 leaves out the cases that start a second thread, and says so.
// WPP_OTHER_WIDTH names the folder of the x86 build (its codec and this test)
// for the 64-bit test, which then registers both side by side for real.
#pragma once

#include "tests/bare/verdicts.h"
#include "wic/codec.h"

namespace wictest {

using namespace bare;
using wic::kContainerFormat;
using wic::SameGuid;

// The factory every check uses; COM is started before the first.
extern IWICImagingFactory* factory;

// The codec beside this program: its path, and a command line that names it.
void CodecBesideUs(char16_t* path);
// Runs a command line (a program of the system, found on its path) to its
// end; returns its exit status, or -1 when it cannot start.
int32_t Run(const char16_t* commandLine);
// Registers (or, with unregister, removes) the codec through regsvr32, with
// the switches given ("/s", "/s /n /i:user"); true when it says success.
bool Regsvr32(const char16_t* switches, bool unregister);

// A decoder for the file at path, through the factory's own search.
HRESULT DecoderForFile(const char16_t* path, IWICBitmapDecoder** decoder);
// The picture's pixels, rect (null: all) of them, as WIC hands them out,
// checked against its bytes; and through WIC's converter to 32-bit BGRA.
void CheckFrame(IWICBitmapFrameDecode* frame, const Picture& p);

// Whether the cases that start a second thread run (WPP_NO_THREADS).
bool ThreadsRun();
// A decoder for a stream, through the factory's search.
HRESULT DecoderForStream(IStream* stream, IWICBitmapDecoder** decoder);
// The one frame's whole picture into a buffer; the result of the first call that fails.
HRESULT DecodeWhole(IWICBitmapDecoder* decoder, const Picture& p, uint8_t* into);

// The classes of the whole machine and of the user, as regedit exports them
// (wic_registry.cpp); whether the registry's classes are now as they were then.
struct Snapshot {
  uint8_t* bytes[2];
  uint32_t size[2];
};
Snapshot TakeSnapshot();
void FreeSnapshot(const Snapshot& s);
bool ClassesAsAt(const Snapshot& then);
// The decoder's and the property handler's classes, as WIC and the shell
// find them (LearnClasses), never spelled here.
extern wchar_t decoderClass[40], handlerClass[40];
void LearnClasses();
// The text with %D, %H and %M (those classes and the codec's path) filled in.
void Fill(const wchar_t* pattern, wchar_t* out);
// A value's type and bytes under a root; false when the key or the value is
// not there. No name and no data: whether the key is there.
enum Root : uint8_t { kClasses, kCurrentVersion, kCurrentVersion64 };
bool ReadValue(HKEY hive, Root root, const wchar_t* key, const wchar_t* name, DWORD* type,
               BYTE* data, DWORD* size, REGSAM view = 0);
// Every value that registering writes, read back from the hive: there,
// exactly, where the codec is registered there (and for those both widths
// share, while another width's is), and gone elsewhere.
void ExpectRegistry(HKEY hive, bool registered, bool sharedStay = false);

// The registration cases (wic_registration.cpp); the decoding and property
// cases run inside them, with the codec registered machine-wide.
void CheckRegistration();
// Pictures, streams and bad files through WIC (wic_decode.cpp).
void CheckDecoding();
// The codec's objects as COM and WIC ask them (wic_objects.cpp).
void CheckObjects();
// The property handler, found through the registry, on WPP files and bad ones
// (wic_properties.cpp).
void CheckProperties();
// Its answers for a file, printed; false when it refuses the file.
bool PrintDetails(const char16_t* file);
// Whether the registered handler's Initialize takes the stream (its other
// answers checked along the way).
bool HandlerTakes(IStream* stream);
// The handler as Explorer finds it: the class that the registry names for .wpp.
HRESULT CreatePropertyHandler(REFIID iid, void** out);
// The codec's own word on whether every object of it is gone.
HRESULT CodecCanUnload();
// A WPP file decoded through WIC and written as FOLDER\NAME.png by WIC's encoder.
bool ConvertToPng(const char16_t* folder, const char16_t* file);
// The benchmark's run and its report; false when a call failed.
bool RunBench();

constexpr uint8_t kText[] = "Not a picture: a line of text, longer than a WPP header.\r\n";

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

}  // namespace wictest
