#include "qt/wpp_image_handler.h"

#include <QFileDevice>
#include <QImage>
#include <QSize>
#include <QVariant>
#include <QtEndian>
#include <QtGlobal>

#include "qt/picture_image.h"
#include "wpp/bytes.h"

namespace {

// The header's fields bound what a WPP image can hold: each side is 16 bits,
// and dataLength (2 * width * height + 4) is 32 bits.
constexpr uint64_t kMaxSide = 0xFFFF;
constexpr uint64_t kMaxDataLength = 0xFFFFFFFF;
// How long read() lets a sequential device (a pipe, a socket) keep the next
// bytes of a picture the program asked for waiting before the picture counts
// as cut short: long enough for a slow network, short enough that a stalled
// peer does not hang a viewer for good. canRead never waits.
constexpr int kSequentialWaitMs = 30000;

// Reads exactly size bytes, waiting on a sequential device for the rest.
bool ReadFully(QIODevice* device, char* data, qint64 size) {
  while (size > 0) {
    const qint64 got = device->read(data, size);
    if (got < 0) return false;
    if (got == 0 && !(device->isSequential() && device->waitForReadyRead(kSequentialWaitMs)))
      return false;
    data += got;
    size -= got;
  }
  return true;
}

// On a device with a known size, whether the whole image lies ahead; a
// sequential device says so only as it is read.
bool WholeImageAhead(QIODevice* device, const WppHeader& header) {
  if (device->isSequential()) return true;
  const qint64 ahead = device->size() - device->pos();
  return ahead >= 0 &&
         static_cast<uint64_t>(ahead) >= uint64_t{wpp::kDataLengthBase} + header.dataLength;
}

// The header at the device's position, from the bytes at hand or, when wait
// is set, from those a sequential device brings later too. Only peeks.
bool PeekWppHeader(QIODevice* device, WppHeader* header, bool wait) {
  // A sequential device hands over what has come so far, and may hand over
  // more at the next peek: peek again while more comes.
  uint8_t bytes[wpp::kHeaderSize];
  qint64 got = 0;
  while (got < qint64{sizeof bytes}) {
    const qint64 now = device->peek(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (now <= got &&
        !(wait && device->isSequential() && device->waitForReadyRead(kSequentialWaitMs)))
      return false;
    got = qMax(got, now);
  }
  if (!CheckHeader(bytes)) return false;
  *header = ParseWppHeader(bytes);
  return true;
}

// The file's pixels are little-endian; so are a QImage's on most machines.
void RowFromLittleEndian(uchar* row, int width) {
  if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) qFromLittleEndian<quint16>(row, width, row);
}

}  // namespace

bool WppImageHandler::CanRead(QIODevice* device) {
  // Qt asks every plug-in this for every read by content, whatever the
  // format, so it answers from the bytes at hand. Fewer than a header's on a
  // sequential device is a no: waiting for more would stall every program
  // that reads a pipe by content, and a yes on part of a header would take
  // other formats' files, which only the whole header tells apart from ours.
  // A picture cut short is still ours, so that its read fails as bad data
  // rather than as a format nobody knows.
  WppHeader header;
  return device != nullptr && PeekWppHeader(device, &header, false);
}

bool WppImageHandler::PeekHeader(WppHeader* header, bool wait) const {
  // Once read, the header stays known: the device has moved past it.
  if (header_.width == 0 && (device() == nullptr || !PeekWppHeader(device(), &header_, wait)))
    return false;
  *header = header_;
  return true;
}

bool WppImageHandler::canRead() const {
  if (!CanRead(device())) return false;
  setFormat(kFormatName);
  return true;
}

bool WppImageHandler::read(QImage* image) {
  QIODevice* source = device();
  WppHeader header;
  if (!PeekHeader(&header, true) || !WholeImageAhead(source, header)) return false;
  const QSize size(header.width, header.height);
  // The reader's allocation limit first, then a picture block of ours (on
  // huge pages when it is large), for the pixels to be read straight into.
  if (!wpp_qt::WithinAllocationLimit(size)) return false;
  QImage decoded = wpp_qt::PictureImage(size);
  if (decoded.isNull()) return false;
  char skipped[wpp::kPixelsOffset];
  if (!ReadFully(source, skipped, sizeof skipped)) return false;
  const qint64 rowBytes = 2 * qint64{header.width};
  if (decoded.bytesPerLine() == rowBytes) {
    // Rows with no padding between them come in one read.
    if (!ReadFully(source, reinterpret_cast<char*>(decoded.bits()), rowBytes * header.height))
      return false;
    for (int y = 0; y < header.height; ++y) RowFromLittleEndian(decoded.scanLine(y), header.width);
  } else {
    for (int y = 0; y < header.height; ++y) {
      if (!ReadFully(source, reinterpret_cast<char*>(decoded.scanLine(y)), rowBytes)) return false;
      RowFromLittleEndian(decoded.scanLine(y), header.width);
    }
  }
  *image = decoded;
  return true;
}

// A failed write returns false and says why in a warning, as Qt's own
// handlers do; the device stays open and what it holds stays the program's:
// one that wants all or nothing saves through a QSaveFile. What can be
// refused is refused before the first byte goes out.
bool WppImageHandler::write(const QImage& image) {
  QIODevice* target = device();
  if (target == nullptr || image.isNull()) {
    qWarning("wpp: nothing to write: no device or no picture");
    return false;
  }
  const uint64_t width = image.width(), height = image.height();
  if (width > kMaxSide || height > kMaxSide) {
    qWarning("wpp: a %llu x %llu picture is refused: WPP images are at most 65535 pixels a side",
             static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    return false;
  }
  const uint64_t dataLength = 2 * width * height + 4;
  if (dataLength > kMaxDataLength) {
    qWarning("wpp: a %llu x %llu picture is refused: its pixels do not fit a WPP header's length",
             static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    return false;
  }
  const QImage pixels = image.convertToFormat(QImage::Format_RGB16);
  if (pixels.isNull()) {
    qWarning("wpp: out of memory converting the picture");
    return false;
  }
  uint8_t header[wpp::kHeaderSize] = {};
  wpp::StoreLe32(header + wpp::kDataLengthOffset, static_cast<uint32_t>(dataLength));
  wpp::StoreLe16(header + wpp::kWidthOffset, static_cast<uint16_t>(width));
  wpp::StoreLe16(header + wpp::kHeightOffset, static_cast<uint16_t>(height));
  bool written =
      target->write(reinterpret_cast<const char*>(header), sizeof header) == qint64{sizeof header};
  const qint64 rowBytes = 2 * static_cast<qint64>(width);
  QByteArray row(Q_BYTE_ORDER == Q_BIG_ENDIAN ? rowBytes : 0, Qt::Uninitialized);
  for (int y = 0; written && y < pixels.height(); ++y) {
    const char* line = reinterpret_cast<const char*>(pixels.constScanLine(y));
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
      qToLittleEndian<quint16>(line, pixels.width(), row.data());
      line = row.constData();
    }
    written = target->write(line, rowBytes) == rowBytes;
  }
  // A full disk shows only when the last bytes leave the buffer.
  if (written)
    if (auto* file = qobject_cast<QFileDevice*>(target)) written = file->flush();
  if (!written)
    qWarning("wpp: the device refused part of a %llu x %llu picture (%s); what it took is left",
             static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
             qPrintable(target->errorString()));
  return written;
}

bool WppImageHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ImageFormat;
}

QVariant WppImageHandler::option(ImageOption option) const {
  WppHeader header;
  if (!supportsOption(option) || !PeekHeader(&header, false)) return {};
  if (option == Size) return QSize(header.width, header.height);
  return QImage::Format_RGB16;
}
