// KDE's thumbnails of one file as its file manager gets them: a
// KIO::PreviewJob with every preview plug-in the system has, at 128 x 128,
// the picture saved as PNG. Exit status 0 with a preview, 1 without.
//   kde_preview FILE OUT.png

#include <stdio.h>

#include <KFileItem>
#include <KIO/PreviewJob>
#include <QApplication>
#include <QPixmap>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    fprintf(stderr, "usage: kde_preview FILE OUT.png\n");
    return 2;
  }
  const QStringList plugins = KIO::PreviewJob::availablePlugins();
  KIO::PreviewJob* job = KIO::filePreview(
      KFileItemList{KFileItem(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])))},
      QSize(128, 128), &plugins);
  bool saved = false;
  QObject::connect(job, &KIO::PreviewJob::gotPreview, [&](const KFileItem&, const QPixmap& p) {
    saved = p.save(QString::fromLocal8Bit(argv[2]), "PNG");
  });
  QObject::connect(job, &KIO::PreviewJob::failed, [](const KFileItem& item) {
    fprintf(stderr, "kde_preview: no preview of %s (%s)\n", qPrintable(item.url().toLocalFile()),
            qPrintable(item.mimetype()));
  });
  QObject::connect(job, &KJob::result, [&](KJob*) { app.exit(saved ? 0 : 1); });
  return app.exec();
}
