// Writes the seed corpus for the fuzz targets with the format's writer:
// valid images of many sizes, odd and even widths, and near-misses (a wrong
// length field, a zero side, a byte short, trailing bytes), each wrapped in
// the targets' envelope. Usage: make_corpus OUTPUT_FOLDER

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/wpp_writer.h"
#include "wpp/bytes.h"
#include "wpp/wpp.h"

using wppfile::Bytes;

namespace {

int written = 0;

void Write(const std::filesystem::path& folder, const Bytes& envelope, const Bytes& body) {
  char name[32];
  snprintf(name, sizeof name, "seed_%04d", written++);
  std::ofstream out(folder / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(envelope.data()), envelope.size());
  out.write(reinterpret_cast<const char*>(body.data()), body.size());
}

Bytes Envelope(uint8_t control, uint32_t number) {
  Bytes envelope(5, control);
  wpp::StoreLe32(envelope.data() + 1, number);
  return envelope;
}

// One image for every target: in memory with its whole length claimed, and in
// a file at offset 0 and behind a few bytes of something else.
void Seed(const std::filesystem::path& out, const Bytes& image, uint8_t control) {
  Write(out / "memory", Envelope(control, static_cast<uint32_t>(image.size())), image);
  // The gdk-pixbuf loader's: in pieces that the length's bytes size, and
  // through load() from a FILE.
  Write(out / "pixbuf", Envelope(control, static_cast<uint32_t>(image.size())), image);
  Write(out / "pixbuf", Envelope(4, 0), image);
  // The Qt handler's: from a buffer, and from a pipe in pieces of 1 and 256.
  Write(out / "qt", Envelope(0, 0), image);
  Write(out / "qt", Envelope(1, 0), image);
  Write(out / "qt", Envelope(1, 0xFF), image);
  Write(out / "file", Envelope(control, 0), image);
  Bytes shifted(7 + image.size(), 0xC3);
  std::copy(image.begin(), image.end(), shifted.begin() + 7);
  Write(out / "file", Envelope(control, 7), shifted);
  // CopyPixels calls on it: the whole frame, its last row, and a rect with a
  // padded stride, each into a buffer of exactly the size asked for.
  if (image.size() < wpp::kHeaderSize) return;
  // In 32-bit unsigned arithmetic, as the call's fields are stored.
  const uint32_t w = wpp::LoadLe16(image.data() + 20), h = wpp::LoadLe16(image.data() + 22);
  const uint32_t calls[][6] = {{0, 0, 0x80000000u, 0, 2 * w, 2 * w * h},
                               {0, h - 1, w, 1, 2 * w, 2 * w},
                               {w / 2, h / 2, (w + 1) / 2, (h + 1) / 2, w + 3 + w % 2, 0}};
  for (const auto& c : calls) {
    Bytes call(24);
    for (int i = 0; i < 6; ++i) wpp::StoreLe32(call.data() + 4 * i, c[i]);
    if (c[5] == 0)  // a padded stride: the exact size of its rows
      wpp::StoreLe32(call.data() + 20, c[4] * (c[3] - 1) + 2 * c[2]);
    Write(out / "frame_copy", call, image);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_corpus OUTPUT_FOLDER\n");
    return 2;
  }
  const std::filesystem::path out(argv[1]);
  std::filesystem::create_directories(out / "memory");
  std::filesystem::create_directories(out / "file");
  std::filesystem::create_directories(out / "frame_copy");
  std::filesystem::create_directories(out / "pixbuf");
  std::filesystem::create_directories(out / "qt");

  const struct {
    uint32_t width, height;
  } sizes[] = {{1, 1},  {2, 1},  {1, 2},   {3, 3},   {4, 2},   {5, 7},   {8, 8},   {16, 16},
               {17, 3}, {33, 9}, {64, 64}, {127, 5}, {1, 300}, {300, 1}, {31, 31}, {2, 128}};
  uint8_t control = 0;
  for (const auto& s : sizes) {
    const wppfile::ImageSpec image =
        wppfile::RandomImage(s.width, s.height, s.width * 131 + s.height);
    const Bytes bytes = wppfile::EncodeWpp(image);
    Seed(out, bytes, control++ % 3);

    // Near-misses around the same image.
    wppfile::ImageSpec wrongLength = image;
    wrongLength.dataLength = 2 * s.width * s.height + 5;
    Seed(out, wppfile::EncodeWpp(wrongLength), 0);
    wrongLength.dataLength = 2 * s.width * s.height + 3;
    Seed(out, wppfile::EncodeWpp(wrongLength), 0);
    Seed(out, Bytes(bytes.begin(), bytes.end() - 1), 0);
    Bytes longer = bytes;
    longer.insert(longer.end(), {0xEE, 0xEE, 0xEE});
    Seed(out, longer, 2);
  }
  Seed(out, wppfile::HeaderOnly(4, 0, 1), 0);
  Seed(out, wppfile::HeaderOnly(4, 1, 0), 0);
  Seed(out, wppfile::HeaderOnly(0, 0, 0), 0);
  Seed(out, wppfile::HeaderOnly(0xFFFFFFFFu, 0xFFFF, 0xFFFF), 0);
  Seed(out, wppfile::HeaderOnly(2u * 65535 * 16383 + 4, 65535, 16383), 0);  // wants ~2 GiB
  Seed(out, Bytes(23, 0), 0);
  printf("make_corpus: %d seeds in %s\n", written, argv[1]);
  return 0;
}
