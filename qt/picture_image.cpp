// QImages over picture blocks, and Qt 6's allocation limit applied to them.

#include "qt/picture_image.h"

#include <QImageReader>
#include <QLoggingCategory>

#include "platform/posix/picture_memory.h"

namespace {

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// The category and words of Qt's own refusal, so that a program's logging
// rules treat ours as they treat Qt's.
Q_LOGGING_CATEGORY(lcImageIo, "qt.gui.imageio")
#endif

}  // namespace

namespace wpp_qt {

bool WithinAllocationLimit(const QSize& size) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const int limitMib = QImageReader::allocationLimit();
  if (limitMib == 0 || 4 * int64_t{size.width()} * size.height() <= int64_t{limitMib} * 1048576)
    return true;
  qCWarning(lcImageIo,
            "QImageIOHandler: Rejecting image as it exceeds the current allocation limit of %i "
            "megabytes",
            limitMib);
  return false;
#else
  Q_UNUSED(size);
  return true;
#endif
}

QImage PictureImage(const QSize& size) {
  const qint64 stride = (2 * qint64{size.width()} + 3) / 4 * 4;
  void* pixels = platform::AllocatePicture(static_cast<uint64_t>(stride * size.height()));
  if (pixels == nullptr) return QImage();
  QImage image(static_cast<uchar*>(pixels), size.width(), size.height(), static_cast<int>(stride),
               QImage::Format_RGB16, platform::FreePicture, pixels);
  // An image Qt refuses to make never calls the cleanup: the block is still ours.
  if (image.isNull()) platform::FreePicture(pixels);
  return image;
}

}  // namespace wpp_qt
