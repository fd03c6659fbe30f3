#include "qt/wpp_image_plugin.h"

#include "qt/wpp_image_handler.h"

QImageIOPlugin::Capabilities WppImagePlugin::capabilities(QIODevice* device,
                                                          const QByteArray& format) const {
  if (format == WppImageHandler::kFormatName) return CanRead | CanWrite;
  // An empty name is Qt asking by content: answer from the whole header, so
  // that no other format's file is taken for ours.
  if (!format.isEmpty() || device == nullptr || !device->isReadable()) return {};
  return WppImageHandler::CanRead(device) ? Capabilities(CanRead) : Capabilities();
}

QImageIOHandler* WppImagePlugin::create(QIODevice* device, const QByteArray& format) const {
  auto* handler = new WppImageHandler;
  handler->setDevice(device);
  handler->setFormat(format);
  return handler;
}
