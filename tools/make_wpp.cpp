// Makes WPP images: a procedural test pattern, or a conversion of a binary
// PPM (P6, 8-bit channels). Used for the bundled samples and by the tests.
//
//   make_wpp pattern WIDTH HEIGHT OUT.wpp
//   make_wpp ppm IN.ppm OUT.wpp

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/wpp_writer.h"
#include "wpp/picture_writer.h"

namespace {

// Each side is a 16-bit field of the header.
constexpr uint64_t kLargestSide = 65535;
// dataLength, two bytes a pixel and 4 more, stays below 2 GiB (0x7FFFFFF4 at
// most), so it reads the same as a signed 32-bit number; larger pictures are
// valid WPP files, but not ones this maker writes.
constexpr uint64_t kLargestPixelCount = 0x3FFFFFF8;
// What a refused size is told, with both limits.
constexpr const char* kSizeLimits =
    "not a size it makes: each side 1 to 65535 pixels, and at most 1073741816 pixels in all (2 GiB "
    "of pixel data)";
static_assert(kLargestSide == 65535 && kLargestPixelCount == 1073741816,
              "the numbers kSizeLimits names");

bool Fits(uint64_t width, uint64_t height) {
  return width >= 1 && width <= kLargestSide && height >= 1 && height <= kLargestSide &&
         width * height <= kLargestPixelCount;
}

// A side as given on the command line: digits only, or 0, which never fits.
uint64_t Side(const char* text) {
  char* end = nullptr;
  const unsigned long long value = strtoull(text, &end, 10);
  return end != text && *end == '\0' && text[0] != '-' && value <= kLargestSide ? value : 0;
}

// Colour bars on top, then red, green, blue and grey ramps, then a band whose
// hue turns across the width and darkens downwards: a wrong channel order, a
// kept green bit or a flipped picture all show at a glance.
std::vector<uint16_t> Pattern(uint32_t width, uint32_t height) {
  static const uint32_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                       {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  std::vector<uint16_t> pixels(size_t{width} * height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t band = y * 8 / height;  // 0-2 bars, 3-6 ramps, 7 hue
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t ramp = width > 1 ? x * 255 / (width - 1) : 255;
      uint32_t r = 0, g = 0, b = 0;
      if (band < 3) {
        const uint32_t* bar = kBars[x * 8 / width];
        r = bar[0], g = bar[1], b = bar[2];
      } else if (band < 7) {  // red, green, blue, then all three
        r = band == 3 || band == 6 ? ramp : 0;
        g = band == 4 || band == 6 ? ramp : 0;
        b = band == 5 || band == 6 ? ramp : 0;
      } else {
        const uint32_t sector = x * 6 / width, within = (x * 6 * 255 / width) % 255;
        const uint32_t up = within, down = 255 - within;
        const uint32_t hues[6][3] = {{255, up, 0},   {down, 255, 0}, {0, 255, up},
                                     {0, down, 255}, {up, 0, 255},   {255, 0, down}};
        const uint32_t shade = 255 - (y - height * 7 / 8) * 200 / (height - height * 7 / 8 + 1);
        r = hues[sector][0] * shade / 255, g = hues[sector][1] * shade / 255,
        b = hues[sector][2] * shade / 255;
      }
      // A white block fills the top-left corner, so a flip is plain to see.
      if (x < width / 16 && y < height / 16) r = g = b = 255;
      pixels[size_t{y} * width + x] = wpp::PackRgb565(r, g, b);
    }
  }
  return pixels;
}

// Reads the PPM at path; returns what is wrong with it, or null.
const char* ReadPpm(const char* path, uint32_t* width, uint32_t* height,
                    std::vector<uint16_t>* pixels) {
  constexpr const char* kNotPpm = "not a binary PPM with 8-bit channels";
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return kNotPpm;
  char magic[3] = {};
  unsigned w = 0, h = 0, maximum = 0;
  bool ok = fscanf(file, "%2s", magic) == 1 && strcmp(magic, "P6") == 0;
  // Skip comments between the header fields.
  auto field = [&](unsigned* value) {
    int c;
    while ((c = fgetc(file)) == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t')
      if (c == '#')
        while ((c = fgetc(file)) != '\n' && c != EOF) {
        }
    ungetc(c, file);
    return fscanf(file, "%u", value) == 1;
  };
  ok = ok && field(&w) && field(&h) && field(&maximum) && maximum == 255;
  if (ok && !Fits(w, h)) {
    fclose(file);
    return kSizeLimits;
  }
  ok = ok && fgetc(file) != EOF;  // the single white space before the samples
  if (ok) {
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    ok = fread(rgb.data(), 1, rgb.size(), file) == rgb.size();
    pixels->resize(size_t{w} * h);
    for (size_t i = 0; ok && i < pixels->size(); ++i)
      (*pixels)[i] = wpp::PackRgb565(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
  }
  fclose(file);
  *width = w;
  *height = h;
  return ok ? nullptr : kNotPpm;
}

bool WriteWpp(const char* path, uint32_t width, uint32_t height, std::vector<uint16_t> pixels) {
  wppfile::ImageSpec image;
  image.width = width;
  image.height = height;
  image.pixels = std::move(pixels);
  image.prefix = "WPP sample image";  // the 16 free bytes
  const wppfile::Bytes out = wppfile::EncodeWpp(image);
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  const bool ok = fwrite(out.data(), 1, out.size(), file) == out.size();
  return fclose(file) == 0 && ok;
}

int Usage() {
  fprintf(stderr,
          "usage: make_wpp pattern WIDTH HEIGHT OUT.wpp\n"
          "       make_wpp ppm IN.ppm OUT.wpp\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t width = 0, height = 0;
  std::vector<uint16_t> pixels;
  const char* out = nullptr;
  if (argc == 5 && strcmp(argv[1], "pattern") == 0) {
    const uint64_t w = Side(argv[2]), h = Side(argv[3]);
    if (!Fits(w, h)) {
      fprintf(stderr, "make_wpp: %s x %s: %s\n", argv[2], argv[3], kSizeLimits);
      return 1;
    }
    width = static_cast<uint32_t>(w), height = static_cast<uint32_t>(h);
    pixels = Pattern(width, height);
    out = argv[4];
  } else if (argc == 4 && strcmp(argv[1], "ppm") == 0) {
    if (const char* problem = ReadPpm(argv[2], &width, &height, &pixels)) {
      fprintf(stderr, "make_wpp: %s: %s\n", argv[2], problem);
      return 2;
    }
    out = argv[3];
  } else {
    return Usage();
  }
  if (!WriteWpp(out, width, height, std::move(pixels))) {
    fprintf(stderr, "make_wpp: cannot write %s\n", out);
    return 3;
  }
  printf("%s: %ux%u\n", out, width, height);
  return 0;
}
