// Reads and writes one WPP image on a QIODevice, straight between the file's
// RGB565 pixels and QImage::Format_RGB16, which holds the same values. Each
// handler keeps its own state, so any number of them can run at once.
#pragma once

#include <stdint.h>

#include <QImageIOHandler>

#include "wpp/wpp.h"

class WppImageHandler : public QImageIOHandler {
 public:
  static constexpr char kFormatName[] = "wpp";

  // True when the device's next bytes at hand are a whole WPP header, even of
  // a picture cut short. Never waits, and only peeks: the device is left as it was.
  static bool CanRead(QIODevice* device);

  bool canRead() const override;
  bool read(QImage* image) override;
  bool write(const QImage& image) override;
  bool supportsOption(ImageOption option) const override;
  QVariant option(ImageOption option) const override;

 private:
  // The image's header, peeked at the device's position (so nothing moves)
  // the first time, or false when there is none; wait lets a sequential
  // device bring its bytes.
  bool PeekHeader(WppHeader* header, bool wait) const;

  mutable WppHeader header_ = {};  // width 0 until a header is found
};
