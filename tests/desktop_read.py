"""Opens WPP files as a desktop program does, with whatever loaders the
environment has, and checks every pixel against the file's own:

    desktop_read.py gtk FILE...    GdkPixbuf (by the file's type, as GIO guesses it):
                                   each RGB565 value's channels with their bits
                                   repeated below them to 8
    desktop_read.py qt5|qt6 FILE...  QImage (by Qt's plug-ins): Format_RGB16, the
                                   values as stored, and the type image/x-wpp

Exit status 0 when every file reads so; an assertion names the first that does not.
"""

import struct
import sys


def wpp_file(path):
    data = open(path, "rb").read()
    width, height = struct.unpack("<HH", data[20:24])
    return data, width, height


def read_gtk(paths):
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import Gio, GdkPixbuf
    for path in paths:
        data, width, height = wpp_file(path)
        kind, _ = Gio.content_type_guess(path, data[:4096])
        assert kind == "image/x-wpp", (path, kind)
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(path)
        assert (pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_n_channels()) == \
            (width, height, 3), path
        stride, pixels = pixbuf.get_rowstride(), pixbuf.get_pixels()
        for y in range(height):
            for x in range(width):
                p = struct.unpack_from("<H", data, 24 + 2 * (y * width + x))[0]
                r, g, b = p >> 11, (p >> 5) & 63, p & 31
                want = bytes((r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2))
                assert pixels[y * stride + 3 * x:y * stride + 3 * x + 3] == want, (path, x, y)


def read_qt(major, paths):
    if major == "6":
        from PyQt6.QtCore import QMimeDatabase
        from PyQt6.QtGui import QImage, QImageReader
        rgb16 = QImage.Format.Format_RGB16
    else:
        from PyQt5.QtCore import QMimeDatabase
        from PyQt5.QtGui import QImage, QImageReader
        rgb16 = QImage.Format_RGB16
    assert b"image/x-wpp" in [bytes(m) for m in QImageReader.supportedMimeTypes()]
    for path in paths:
        data, width, height = wpp_file(path)
        assert QMimeDatabase().mimeTypeForFile(path).name() == "image/x-wpp", path
        image = QImage(path)
        assert (image.width(), image.height(), image.format()) == (width, height, rgb16), path
        bits = image.constBits()
        bits.setsize(image.sizeInBytes())
        rows, stride = bytes(bits), image.bytesPerLine()
        for y in range(height):
            assert rows[y * stride:y * stride + 2 * width] == \
                data[24 + 2 * width * y:24 + 2 * width * (y + 1)], (path, y)


if __name__ == "__main__":
    if sys.argv[1] == "gtk":
        read_gtk(sys.argv[2:])
    else:
        read_qt(sys.argv[1][2:], sys.argv[2:])
