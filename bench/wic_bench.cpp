// The WIC codec's CopyPixels against the stream it reads, in one run under
// Wine: a whole 4096 x 4096 frame from a file stream, and 256-row bands of
// it, each timed beside one IStream::Read of the same bytes into the same
// buffer. Prints the medians' ratios (the read's time over ours: 1 is as
// fast as the read alone). Part of the WIC test program: wic_test --bench.

#include "tests/wic/wic_test.h"

namespace wictest {
namespace {

constexpr uint32_t kSide = 4096, kBandRows = 256, kRounds = 9;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(double* values, uint32_t count) {
  for (uint32_t i = 1; i < count; ++i)
    for (uint32_t j = i; j > 0 && values[j - 1] > values[j]; --j) {
      const double t = values[j];
      values[j] = values[j - 1];
      values[j - 1] = t;
    }
  return values[count / 2];
}

// Prints a ratio with two decimals.
void PrintRatio(const char* what, double ratio) {
  const int64_t hundredths = static_cast<int64_t>(ratio * 100 + 0.5);
  Print("wic bench: ", what, " ", hundredths / 100, ".", hundredths % 100 / 10, hundredths % 10,
        "x the stream's own read\r\n");
}

}  // namespace

bool RunBench() {
  caseName = "the benchmark";
  const Picture p = MakePicture(kSide, kSide);
  char16_t path[kPathChars];
  if (!WriteTempFile(u"wpp_wic_bench.wpp", p.bytes, p.size, path)) return false;
  auto* buffer = static_cast<uint8_t*>(VirtualAlloc(nullptr, p.size, MEM_COMMIT, PAGE_READWRITE));
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  bool ok = SUCCEEDED(factory->CreateStream(&stream)) &&
            SUCCEEDED(stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path),
                                                     GENERIC_READ)) &&
            SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr,
                                                       WICDecodeMetadataCacheOnDemand, &decoder)) &&
            SUCCEEDED(decoder->GetFrame(0, &frame));
  const uint32_t row = 2 * kSide;
  double read[2][kRounds], copy[2][kRounds];
  for (uint32_t round = 0; ok && round < kRounds; ++round) {
    for (int band = 0; band < 2; ++band) {
      const uint32_t rows = band ? kBandRows : kSide;
      const int32_t y = band ? static_cast<int32_t>(round % (kSide / kBandRows) * kBandRows) : 0;
      const WICRect rect = {0, y, static_cast<int32_t>(kSide), static_cast<int32_t>(rows)};
      LARGE_INTEGER at;
      at.QuadPart = 24 + int64_t{row} * y;
      // Each first in turn, so that neither gains from the other's cache.
      for (int turn = 0; turn < 2; ++turn) {
        LARGE_INTEGER start, end;
        ULONG got = 0;
        QueryPerformanceCounter(&start);
        if ((turn + round) % 2 == 0)
          ok = ok && SUCCEEDED(stream->Seek(at, STREAM_SEEK_SET, nullptr)) &&
               SUCCEEDED(stream->Read(buffer, row * rows, &got)) && got == row * rows;
        else
          ok = ok && SUCCEEDED(frame->CopyPixels(&rect, row, row * rows, buffer));
        QueryPerformanceCounter(&end);
        ((turn + round) % 2 == 0 ? read : copy)[band][round] = Seconds(start, end);
      }
    }
  }
  if (Expect(ok, "every read and copy")) {
    PrintRatio("CopyPixels of the whole 4096 x 4096 frame:",
               Median(read[0], kRounds) / Median(copy[0], kRounds));
    PrintRatio("CopyPixels of a 256-row band:",
               Median(read[1], kRounds) / Median(copy[1], kRounds));
  }
  if (frame != nullptr) frame->Release();
  if (decoder != nullptr) decoder->Release();
  if (stream != nullptr) stream->Release();
  VirtualFree(buffer, 0, MEM_RELEASE);
  DeleteFileW(reinterpret_cast<const wchar_t*>(path));
  LocalFree(p.bytes);
  return ok;
}

}  // namespace wictest
