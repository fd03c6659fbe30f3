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
//   wic_test --emulated        for an emulated 32-bit Wine, where each
//                              process costs a minute: one regsvr32 each
//                              way, a few pictures, the registry read in-process
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

// The checks of wic_decode.cpp, with the codec registered machine-wide.
void CheckDecoding();
// The property handler, found through the registry, on WPP files and bad ones.
void CheckProperties();
// Its answers for a file, printed; false when it refuses the file.
bool PrintDetails(const char16_t* file);
// A few pictures decoded through WIC, exactly, and a bad file refused.
void CheckDecodingBriefly();
// A WPP file decoded through WIC and written as FOLDER\NAME.png by WIC's encoder.
bool ConvertToPng(const char16_t* folder, const char16_t* file);
// The benchmark's run and its report; false when a call failed.
bool RunBench();

}  // namespace wictest
