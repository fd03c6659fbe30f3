// pixbuf_bench: the gdk-pixbuf loader against gdk-pixbuf's own PNM loader,
// and what an incremental load holds beyond its pixbuf. Not a test: figures
// that mean something only as ratios within one run (scripts/bench desktop,
// which makes the loaders cache and MIME database it runs with).
//   expand/<path>     each row expansion kernel into a warm block, 4096 x 4096
//   load/wpp, load/ppm  gdk_pixbuf_new_from_file of the same 4096 x 4096 picture
//   floor             the WPP file read in 64 KiB chunks and the pixbuf's 48 MiB
//                     written once into fresh memory, on 4 KiB and on huge pages
//   peak              an 8192 x 8192 load fed 64 KiB at a time, in a fresh
//                     process: its peak resident memory's growth beside the pixbuf's size
// Each load is checked against the reference before it is timed.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "bench/desktop_bench.h"
#include "tools/wpp_reference.h"
#include "tools/wpp_writer.h"
#include "wpp/convert_rows.h"

namespace {

constexpr uint32_t kSide = 4096;
constexpr uint32_t kPeakSide = 8192;
constexpr size_t kFeed = 64 * 1024;  // what gdk-pixbuf's own file loads read at a time

using bench::Median;
using bench::Seconds;
using bench::WriteFile;

std::string Scratch(const char* name) { return bench::Scratch("pixbuf_bench", name); }

long PeakKib() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The fresh process's part: the module loaded on a small picture first, then
// the big one fed as a stream.
int Peak(const char* path) {
  const std::string small = Scratch("small.wpp");
  const wppfile::Bytes tiny = wppfile::EncodeWpp(wppfile::RandomImage(8, 8, 1));
  WriteFile(small, tiny.data(), tiny.size());
  GdkPixbuf* warm = gdk_pixbuf_new_from_file(small.c_str(), nullptr);
  if (warm == nullptr) return 1;
  g_object_unref(warm);
  remove(small.c_str());
  std::vector<guchar> chunk(kFeed);
  FILE* file = fopen(path, "rb");
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("wpp", nullptr);
  if (file == nullptr || loader == nullptr) return 1;
  const long before = PeakKib();
  size_t got;
  bool ok = true;
  while (ok && (got = fread(chunk.data(), 1, chunk.size(), file)) > 0)
    ok = gdk_pixbuf_loader_write(loader, chunk.data(), got, nullptr);
  ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
  const long after = PeakKib();
  fclose(file);
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (!ok || pixbuf == nullptr) return 1;
  const double pixbufMib = gdk_pixbuf_get_byte_length(pixbuf) / 1048576.0;
  const double grewMib = (after - before) / 1024.0;
  printf("| peak, incremental %ux%u | %.1f MiB | pixbuf %.1f MiB | over it %.2f MiB (<= 1) |\n",
         kPeakSide, kPeakSide, grewMib, pixbufMib, grewMib - pixbufMib);
  g_object_unref(loader);
  return 0;
}

bool SameRgb(GdkPixbuf* pixbuf, const wppfile::ImageSpec& image) {
  if (pixbuf == nullptr || gdk_pixbuf_get_width(pixbuf) != static_cast<int>(image.width))
    return false;
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (uint32_t y = 0; y < image.height; y += 97)
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t want[3];
      reference::Rgb(image.pixels[size_t{y} * image.width + x], want);
      if (memcmp(pixels + size_t{y} * stride + 3 * x, want, 3) != 0) return false;
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--peak") == 0) return Peak(argv[2]);
  const int repetitions = argc > 1 ? atoi(argv[1]) : 9;
  printf("pixbuf_bench: medians of %d, expansion path %s\n", repetitions,
         wpp::ConvertPathName(wpp::PickExpandPath()));

  const wppfile::ImageSpec image = wppfile::RandomImage(kSide, kSide, 39);
  const wppfile::Bytes wpp = wppfile::EncodeWpp(image);
  std::vector<uint8_t> rgb(3ull * kSide * kSide);
  for (size_t i = 0; i < image.pixels.size(); ++i) reference::Rgb(image.pixels[i], &rgb[3 * i]);

  // The kernel: every path this CPU runs, against the reference.
  std::vector<uint8_t> warm(rgb.size());
  double scalar = 0;
  wpp::RowConverter timed = nullptr;
  for (wpp::ConvertPath path : wpp::kAllConvertPaths) {
    // A path that shares the one before it's kernel is not timed again.
    const wpp::RowConverter expand = wpp::RowExpanderFor(path);
    if (expand == nullptr || expand == timed || path > wpp::PickExpandPath()) continue;
    timed = expand;
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
      const double start = Seconds();
      for (uint32_t y = 0; y < kSide; ++y)
        expand(wpp.data() + 24 + 2ull * kSide * y, warm.data() + 3ull * kSide * y, kSide);
      times.push_back(Seconds() - start);
    }
    if (warm != rgb) {
      fprintf(stderr, "pixbuf_bench: the %s expansion is wrong\n", wpp::ConvertPathName(path));
      return 1;
    }
    const double median = Median(times);
    if (path == wpp::ConvertPath::Scalar) scalar = median;
    printf("| expand/%-8s | %7.2f ms | %.2f x the scalar path's speed |\n",
           wpp::ConvertPathName(path), median * 1e3, scalar / median);
  }

  // The same picture as WPP and as binary PPM, loaded in turn.
  const std::string wppPath = Scratch("4096.wpp"), ppmPath = Scratch("4096.ppm");
  WriteFile(wppPath, wpp.data(), wpp.size());
  WriteFile(ppmPath, rgb.data(), rgb.size(), "P6\n4096 4096\n255\n");
  // Each round: the WPP load, the PPM load, then the floor under the WPP
  // load on 4 KiB pages and on huge pages.
  const size_t pixbufBytes = rgb.size();
  std::vector<double> wppTimes, ppmTimes, floor4k, floorHuge;
  double wppHugeMib = 0, floorHugeMib = 0, floor4kHugeMib = 0;
  for (int r = 0; r <= repetitions; ++r) {
    for (const std::string* path : {&wppPath, &ppmPath}) {
      GError* error = nullptr;
      const double start = Seconds();
      GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path->c_str(), &error);
      const double took = Seconds() - start;
      if (pixbuf == nullptr || (r == 0 && !SameRgb(pixbuf, image))) {
        fprintf(stderr, "pixbuf_bench: %s: %s\n", path->c_str(),
                error != nullptr ? error->message : "not the reference's pixels");
        return 1;
      }
      if (r == 0 && path == &wppPath) wppHugeMib = bench::HugeMib();
      g_object_unref(pixbuf);
      // The first round warms the page cache and the loaders: not counted.
      if (r > 0) (path == &wppPath ? wppTimes : ppmTimes).push_back(took);
    }
    const double small = bench::FloorSeconds(wppPath, pixbufBytes, false, &floor4kHugeMib);
    const double huge = bench::FloorSeconds(wppPath, pixbufBytes, true, &floorHugeMib);
    if (small < 0 || huge < 0) {
      fprintf(stderr, "pixbuf_bench: the floor could not be measured\n");
      return 1;
    }
    if (r > 0) floor4k.push_back(small), floorHuge.push_back(huge);
  }
  const double wppMedian = Median(wppTimes), ppmMedian = Median(ppmTimes);
  const double floor4kMedian = Median(floor4k), floorHugeMedian = Median(floorHuge);
  printf("| load/wpp (%zu bytes) | %7.2f ms | %.0f MiB on huge pages |\n", wpp.size(),
         wppMedian * 1e3, wppHugeMib);
  printf("| load/ppm (%zu bytes) | %7.2f ms |\n", rgb.size() + 18, ppmMedian * 1e3);
  printf("| load/wpp / load/ppm | %.2f (<= 1.0) |\n", wppMedian / ppmMedian);
  bench::PrintFloor(pixbufBytes, wppMedian, floor4kMedian, floor4kHugeMib, floorHugeMedian,
                    floorHugeMib);
  remove(wppPath.c_str());
  remove(ppmPath.c_str());

  // The peak, in a fresh process of its own.
  const std::string peakPath = Scratch("8192.wpp");
  {
    const wppfile::ImageSpec big = wppfile::RandomImage(kPeakSide, kPeakSide, 8);
    const wppfile::Bytes bytes = wppfile::EncodeWpp(big);
    WriteFile(peakPath, bytes.data(), bytes.size());
  }
  const std::string command = std::string(argv[0]) + " --peak " + peakPath;
  fflush(stdout);
  const int status = system(command.c_str());
  remove(peakPath.c_str());
  return status == 0 ? 0 : 1;
}
