// The Qt plug-in's handler as Qt calls it, on a buffer over the input's own
// bytes or (the control byte's bit 0) on a sequential device that hands them
// over in pieces of 1 to 256 bytes (the number's low byte). canRead must
// leave the device where it was and agree with the header; a read must give
// every pixel exactly, stop at the image's end, and write back to the same
// bytes but the prefix's.

#include <stdlib.h>
#include <string.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QVariant>

#include "fuzz/fuzz_envelope.h"
#include "qt/wpp_image_handler.h"
#include "wpp/wpp.h"

namespace {

constexpr uint64_t kMostPipePixels = 4u << 20;

class Pipe : public QIODevice {
 public:
  Pipe(const char* data, qint64 size, qint64 piece) : data_(data), size_(size), piece_(piece) {
    open(ReadOnly);
  }
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char* out, qint64 most) override {
    const qint64 count = qMin(qMin(most, piece_), size_ - at_);
    memcpy(out, data_ + at_, count);
    at_ += count;
    return count;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  const char* data_;
  qint64 size_, at_ = 0, piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzwpp::Envelope e;
  if (!fuzzwpp::ReadEnvelope(data, size, &e)) return 0;
  // The image in a block of its own size, so a read past it is caught.
  auto* image = static_cast<char*>(malloc(e.bodySize + 1));
  memcpy(image, e.body, e.bodySize);
  const auto* bytes = reinterpret_cast<const uint8_t*>(image);
  const bool header = e.bodySize >= wpp::kHeaderSize && CheckHeader(bytes);
  const bool whole = header && ImageByteCount(bytes) <= e.bodySize;

  QBuffer buffer;
  buffer.setData(QByteArray::fromRawData(image, static_cast<int>(e.bodySize)));
  buffer.open(QIODevice::ReadOnly);
  Pipe pipe(image, e.bodySize, 1 + (e.number & 0xFF));
  // A pipe's picture is allocated before its bytes come: past 4 Mi pixels
  // that is gigabytes for nothing, so such headers are read from the buffer.
  const bool sequential =
      (e.control & 1) != 0 &&
      !(header &&
        uint64_t{ParseWppHeader(bytes).width} * ParseWppHeader(bytes).height > kMostPipePixels);
  QIODevice* device = sequential ? static_cast<QIODevice*>(&pipe) : &buffer;

  if (!sequential && WppImageHandler::CanRead(device) != header)
    fuzzwpp::Fail("canRead disagrees with the header");
  if (device->pos() != 0) fuzzwpp::Fail("canRead moved the device");
  WppImageHandler handler;
  handler.setDevice(device);
  const QVariant size0 = handler.option(QImageIOHandler::Size);
  if (size0.isValid() != header) fuzzwpp::Fail("a size without a header, or none with one");
  QImage picture;
  const bool read = handler.read(&picture);
  if (read != whole) fuzzwpp::Fail("read disagrees with the bytes at hand");
  if (!read && !picture.isNull()) fuzzwpp::Fail("a picture from a failed read");
  if (read) {
    const WppHeader h = ParseWppHeader(bytes);
    if (picture.format() != QImage::Format_RGB16 || picture.size() != QSize(h.width, h.height) ||
        size0.toSize() != picture.size())
      fuzzwpp::Fail("a picture of the wrong shape");
    if (!sequential && device->pos() != static_cast<qint64>(ImageByteCount(bytes)))
      fuzzwpp::Fail("the read did not stop at the image's end");
    for (int y = 0; y < h.height; ++y)
      if (memcmp(picture.constScanLine(y), image + wpp::kPixelsOffset + 2 * y * h.width,
                 2 * h.width) != 0)
        fuzzwpp::Fail("a row not the file's");
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    WppImageHandler writer;
    writer.setDevice(&out);
    if (!writer.write(picture)) fuzzwpp::Fail("a picture read could not be written");
    const QByteArray& written = out.data();
    if (written.size() != static_cast<int>(ImageByteCount(bytes)) ||
        memcmp(written.constData() + wpp::kDataLengthOffset, image + wpp::kDataLengthOffset,
               written.size() - wpp::kDataLengthOffset) != 0)
      fuzzwpp::Fail("the picture did not write back to its own bytes");
  }
  free(image);
  return 0;
}
