// qt_bench: the Qt plug-in against Qt's own PPM reader, each through
// QImage::load of the same 4096 x 4096 picture, medians of one run (scripts/bench
// desktop, which points QT_PLUGIN_PATH at the build's plug-in). Each load is
// checked against the picture before it is timed. The goals: WPP at most half
// the PPM reader's time, being one copy of the file into the picture, and at
// most twice the floor on huge pages (the file read in 64 KiB chunks and the
// picture written once into fresh memory).

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <QImage>
#include <QImageReader>
#include <string>
#include <vector>

#include "bench/desktop_bench.h"
#include "tools/wpp_reference.h"
#include "tools/wpp_writer.h"

namespace {

constexpr uint32_t kSide = 4096;

bool SamePixels(const QImage& loaded, const wppfile::ImageSpec& image, bool wpp) {
  if (loaded.width() != static_cast<int>(kSide) || loaded.height() != static_cast<int>(kSide))
    return false;
  for (uint32_t y = 0; y < kSide; y += 97)
    for (uint32_t x = 0; x < kSide; ++x) {
      const uint16_t p = image.pixels[size_t{y} * kSide + x];
      uint8_t rgb[3];
      reference::Rgb(p, rgb);
      const QRgb got = loaded.pixel(x, y);
      if (wpp ? reinterpret_cast<const uint16_t*>(loaded.constScanLine(y))[x] != p
              : qRed(got) != rgb[0] || qGreen(got) != rgb[1] || qBlue(got) != rgb[2])
        return false;
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? atoi(argv[1]) : 9;
  if (!QImageReader::supportedImageFormats().contains("wpp")) {
    fprintf(stderr, "qt_bench: Qt finds no wpp plug-in (QT_PLUGIN_PATH)\n");
    return 1;
  }
  const wppfile::ImageSpec image = wppfile::RandomImage(kSide, kSide, 40);
  const wppfile::Bytes wpp = wppfile::EncodeWpp(image);
  std::vector<uint8_t> rgb(3ull * kSide * kSide);
  for (size_t i = 0; i < image.pixels.size(); ++i) reference::Rgb(image.pixels[i], &rgb[3 * i]);
  const std::string wppPath = bench::Scratch("qt_bench", "4096.wpp");
  const std::string ppmPath = bench::Scratch("qt_bench", "4096.ppm");
  bench::WriteFile(wppPath, wpp.data(), wpp.size());
  bench::WriteFile(ppmPath, rgb.data(), rgb.size(), "P6\n4096 4096\n255\n");

  // Each round: the WPP load, the PPM load, then the floor under the WPP
  // load (the file read, the picture's 32 MiB written once) on 4 KiB pages
  // and on huge pages.
  const size_t imageBytes = 2ull * kSide * kSide;
  std::vector<double> wppTimes, ppmTimes, floor4k, floorHuge;
  double wppHugeMib = 0, floorHugeMib = 0, floor4kHugeMib = 0;
  for (int r = 0; r <= repetitions; ++r) {
    for (const std::string* path : {&wppPath, &ppmPath}) {
      QImage loaded;
      const double start = bench::Seconds();
      const bool ok = loaded.load(QString::fromStdString(*path));
      const double took = bench::Seconds() - start;
      if (!ok || (r == 0 && !SamePixels(loaded, image, path == &wppPath))) {
        fprintf(stderr, "qt_bench: %s: not loaded, or not the picture's pixels\n", path->c_str());
        return 1;
      }
      if (r == 0 && path == &wppPath) wppHugeMib = bench::HugeMib();
      // The first round warms the page cache and the plug-ins: not counted.
      if (r > 0) (path == &wppPath ? wppTimes : ppmTimes).push_back(took);
    }
    const double small = bench::FloorSeconds(wppPath, imageBytes, false, &floor4kHugeMib);
    const double huge = bench::FloorSeconds(wppPath, imageBytes, true, &floorHugeMib);
    if (small < 0 || huge < 0) {
      fprintf(stderr, "qt_bench: the floor could not be measured\n");
      return 1;
    }
    if (r > 0) floor4k.push_back(small), floorHuge.push_back(huge);
  }
  const double wppMedian = bench::Median(wppTimes), ppmMedian = bench::Median(ppmTimes);
  printf("qt_bench (Qt %s): medians of %d\n", qVersion(), repetitions);
  printf("| QImage::load wpp (%zu bytes) | %7.2f ms | %.0f MiB on huge pages |\n", wpp.size(),
         wppMedian * 1e3, wppHugeMib);
  printf("| QImage::load ppm (%zu bytes) | %7.2f ms |\n", rgb.size() + 18, ppmMedian * 1e3);
  printf("| wpp / ppm | %.2f (<= 0.5) |\n", wppMedian / ppmMedian);
  bench::PrintFloor(imageBytes, wppMedian, bench::Median(floor4k), floor4kHugeMib,
                    bench::Median(floorHuge), floorHugeMib);
  remove(wppPath.c_str());
  remove(ppmPath.c_str());
  return 0;
}
