// The Qt plug-in's images on the platform layer's picture blocks (on huge
// pages when large), and Qt 6's allocation limit applied to them as Qt
// applies it to the images it allocates itself.
#pragma once

#include <QImage>
#include <QSize>

namespace wpp_qt {

// Qt 6's allocation limit, as QImageIOHandler::allocateImage applies it: the
// picture counted at 32 bits a pixel, what a GUI converts it to, against the
// reader's limit in MiB, 0 being none; a refusal is told as Qt tells it. Qt 5
// has no limit.
bool WithinAllocationLimit(const QSize& size);

// An RGB16 image over a zero-filled picture block, laid out as QImage lays
// out its own, the block freed with the image's last copy; a null image when
// there is no room.
QImage PictureImage(const QSize& size);

}  // namespace wpp_qt
