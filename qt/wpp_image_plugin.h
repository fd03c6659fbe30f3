// The Qt image-format plug-in: Qt asks it which devices and formats it takes
// and has it make a handler for each image. One source for Qt 5 and Qt 6.
#pragma once

#include <QImageIOPlugin>

class WppImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "wpp.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};
