"""The Qt image plug-in as Qt programs use it: PyQt's QImageReader and
QImageWriter (Qt 5 or Qt 6, whichever --qt names), with --viewer a Qt
image viewer from Debian under Xvfb, its window's pixels read back; with
--pixbuf-loader (whose MIME database and loaders cache the GTK test makes),
what QImageWriter wrote read back through the GTK loader too, and with
--kde-preview KDE's thumbnail of a sample.

    qt_test.py --qt 5|6 --scratch DIR --samples DIR [--viewer PROGRAM]
               [--pixbuf-loader libpixbufloader-wpp.so --build BUILD [--kde-preview PROGRAM]]

QT_PLUGIN_PATH names the build's folder that holds imageformats/libwpp.so.
"""

import argparse
import os
import random
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TESTS)
from desktop_files import (BARS, bad_files, expected_rows, left_out, read_wpp,  # noqa: E402
                           shows_picture, whole_header, wpp, x_session)

ARGS = None
QtCore = QtGui = None


def enum(owner, scope, name):
    """A Qt enum value: PyQt6 has them in their scopes, PyQt5 on the class."""
    return getattr(getattr(owner, scope), name) if ARGS.qt == 6 else getattr(owner, name)


def random_pixels(width, height, seed):
    rng = random.Random(seed)
    return [rng.randrange(0x10000) for _ in range(width * height)]


def pixels_of(image):
    """A Format_RGB16 QImage's pixels, row by row, without the rows' padding."""
    bits = image.constBits()
    bits.setsize(image.sizeInBytes())
    data = bytes(bits)
    stride, width = image.bytesPerLine(), image.width()
    rows = (data[y * stride:y * stride + 2 * width] for y in range(image.height()))
    return list(struct.unpack("<%dH" % (width * image.height()), b"".join(rows)))


def desktop_env():
    """The environment with the GTK test's loaders cache and MIME database,
    which hold our loader and type beside the machine's."""
    made = subprocess.run([sys.executable, os.path.join(TESTS, "gdkpixbuf", "pixbuf_test.py"),
                           "env", ARGS.pixbuf_loader, ARGS.build, os.path.dirname(TESTS)],
                          check=True, capture_output=True, text=True).stdout
    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(ARGS.scratch, "cache"))
    for line in made.splitlines():
        name, value = line[len("export "):].split("=", 1)
        env[name] = value.strip("'")
    return env


class SequentialDevice:
    """A pipe-like device: no size, no seeking, a few bytes per read."""

    @staticmethod
    def make(data, chunk=7):
        class Device(QtCore.QIODevice):
            def __init__(self):
                super().__init__()
                self.data, self.at = data, 0

            def isSequential(self):
                return True

            def bytesAvailable(self):
                return len(self.data) - self.at + super().bytesAvailable()

            def readData(self, size):
                piece = self.data[self.at:self.at + min(size, chunk)]
                self.at += len(piece)
                return piece

            def writeData(self, data):
                return -1

        device = Device()
        device.open(enum(QtCore.QIODevice, "OpenModeFlag", "ReadOnly"))
        return device


def buffer_of(data):
    buffer = QtCore.QBuffer()
    buffer.setData(QtCore.QByteArray(data))
    buffer.open(enum(QtCore.QIODevice, "OpenModeFlag", "ReadOnly"))
    return buffer


# Pictures every reader must get exactly: odd widths (rows padded in the
# QImage), a single pixel, the largest side, and the bundled samples.
SIZES = [(1, 1), (3, 2), (2, 3), (317, 5), (65535, 1), (1, 65535)]
SAMPLES = {"colour-bars.wpp": (640, 480), "odd-width.wpp": (317, 211)}

class Reading(unittest.TestCase):
    def check(self, image, width, height, pixels, what):
        self.assertFalse(image.isNull(), what)
        self.assertEqual(image.format(), enum(QtGui.QImage, "Format", "Format_RGB16"), what)
        self.assertEqual((image.width(), image.height()), (width, height), what)
        self.assertTrue(pixels_of(image) == pixels, what + ": the pixels differ")

    def read_every_way(self, path, data, width, height, pixels):
        """By name, by content from a buffer, and from a sequential device."""
        reader = QtGui.QImageReader(path)
        self.check(reader.read(), width, height, pixels, path + " by name")
        buffer = buffer_of(data + b"another picture")
        reader = QtGui.QImageReader(buffer)
        reader.setDecideFormatFromContent(True)
        self.check(reader.read(), width, height, pixels, path + " by content")
        self.assertEqual(buffer.pos(), len(data), "read past the image, or short of it")
        device = SequentialDevice.make(data)
        reader = QtGui.QImageReader(device, b"wpp")
        self.check(reader.read(), width, height, pixels, path + " from a sequential device")

    def test_pictures(self):
        for width, height in SIZES:
            pixels = random_pixels(width, height, width * 7 + height)
            data = wpp(width, height, pixels)
            path = os.path.join(ARGS.scratch, "%dx%d.wpp" % (width, height))
            with open(path, "wb") as f:
                f.write(data + b"trailing bytes, never read")
            self.read_every_way(path, data, width, height, pixels)

    def test_samples(self):
        for name, (width, height) in SAMPLES.items():
            path = os.path.join(ARGS.samples, name)
            with open(path, "rb") as f:
                data = f.read()
            pixels = list(struct.unpack("<%dH" % (width * height), data[24:]))
            self.read_every_way(path, data, width, height, pixels)

    def test_size_and_format_from_the_header_alone(self):
        # The header of a 640 x 480 picture and none of its pixels.
        path = os.path.join(ARGS.scratch, "header-only.wpp")
        with open(path, "wb") as f:
            f.write(wpp(640, 480, []))
        for reader in (QtGui.QImageReader(path), QtGui.QImageReader(path, b"wpp")):
            self.assertEqual(reader.size(), QtCore.QSize(640, 480))
            self.assertEqual(reader.imageFormat(), enum(QtGui.QImage, "Format", "Format_RGB16"))
            self.assertTrue(reader.read().isNull())

    def test_bad_files(self):
        # The GTK loader's table: what every desktop front must refuse. A
        # picture cut short is still ours, by name and by content, and bad
        # data; any other is no format of ours.
        invalid = enum(QtGui.QImageReader, "ImageReaderError", "InvalidDataError")
        unsupported = enum(QtGui.QImageReader, "ImageReaderError", "UnsupportedFormatError")
        for what, data, _, _ in bad_files(ARGS.samples):
            ours = whole_header(data)
            path = os.path.join(ARGS.scratch, "bad.wpp")
            with open(path, "wb") as f:
                f.write(data)
            buffer = buffer_of(data)  # the reader does not own it
            by_content = QtGui.QImageReader(buffer)
            by_content.setDecideFormatFromContent(True)
            for how, reader in (("by name", QtGui.QImageReader(path)), ("by content", by_content)):
                self.assertEqual(reader.canRead(), ours, "%s %s: taken" % (what, how))
                self.assertTrue(reader.read().isNull(), "%s %s: read" % (what, how))
                self.assertEqual(reader.error(), invalid if ours else unsupported,
                                 "%s %s: %s" % (what, how, reader.errorString()))
            device = SequentialDevice.make(data)
            self.assertTrue(QtGui.QImageReader(device, b"wpp").read().isNull(), what + " in a pipe")

    def test_a_pipe_by_content_is_answered_at_once(self):
        # A program still writing a PPM whose first bytes, fewer than a WPP
        # header, are at hand: Qt asks every plug-in by content, and ours must
        # answer from those bytes while the writer still runs (it ends on its
        # own after 20 s, far beyond what answering takes).
        writer = QtCore.QProcess()
        writer.start(sys.executable, ["-c", "import sys, time; sys.stdout.write('P6\\n64 48\\n255\\n');"
                                      "sys.stdout.flush(); time.sleep(20)"])
        try:
            self.assertTrue(writer.waitForReadyRead(10000), "the writer wrote nothing")
            reader = QtGui.QImageReader(writer)
            reader.setDecideFormatFromContent(True)
            self.assertEqual(bytes(reader.format()), b"ppm")
            self.assertEqual(writer.state(), enum(QtCore.QProcess, "ProcessState", "Running"),
                             "the reader waited for the writer to end")
        finally:
            writer.kill()
            writer.waitForFinished()
        # A whole header at hand in a pipe is ours by content.
        width, height, pixels = 3, 2, random_pixels(3, 2, 1)
        device = SequentialDevice.make(wpp(width, height, pixels))  # the reader does not own it
        reader = QtGui.QImageReader(device)
        reader.setDecideFormatFromContent(True)
        self.check(reader.read(), width, height, pixels, "from a pipe by content")

    def test_other_formats_keep_theirs(self):
        # Qt asks every plug-in by content before its own handlers: a loose
        # check would take these files for ours.
        image = QtGui.QImage(64, 48, enum(QtGui.QImage, "Format", "Format_RGB32"))
        image.fill(QtGui.QColor(12, 200, 90))
        for fmt in (b"png", b"bmp", b"ppm", b"jpeg"):
            if fmt not in [bytes(f) for f in QtGui.QImageWriter.supportedImageFormats()]:
                continue
            buffer = QtCore.QBuffer()
            buffer.open(enum(QtCore.QIODevice, "OpenModeFlag", "WriteOnly"))
            self.assertTrue(image.save(buffer, fmt.decode()), fmt)
            written = buffer_of(bytes(buffer.data()))
            reader = QtGui.QImageReader(written)
            reader.setDecideFormatFromContent(True)
            self.assertEqual(bytes(reader.format()), fmt)

    def test_allocation_limit(self):
        if ARGS.qt == 5:
            self.skipTest("Qt 5 has no allocation limit")
        data = wpp(1024, 1024, [0x1234] * (1024 * 1024))
        # MiB; Qt counts 4 bytes a pixel, so it needs exactly 4; 0 is no limit.
        for limit, read in [(3, False), (4, True), (5, True), (0, True)]:
            buffer = buffer_of(data)
            reader = QtGui.QImageReader(buffer, b"wpp")
            reader.setAllocationLimit(limit)
            self.assertEqual(not reader.read().isNull(), read, "limit %d MiB" % limit)


class Writing(unittest.TestCase):
    def pictures(self):
        """Pictures in Qt's formats, and the RGB565 values Qt rounds them to."""
        rng = random.Random(5)
        base = QtGui.QImage(37, 19, enum(QtGui.QImage, "Format", "Format_ARGB32"))
        for y in range(base.height()):
            for x in range(base.width()):
                base.setPixel(x, y, rng.randrange(2**32))
        for name in ("Format_ARGB32", "Format_RGB888", "Format_Indexed8", "Format_Grayscale8",
                     "Format_RGB16", "Format_Mono"):
            image = base.convertToFormat(enum(QtGui.QImage, "Format", name))
            yield name, image, pixels_of(image.convertToFormat(
                enum(QtGui.QImage, "Format", "Format_RGB16")))

    def test_written_bytes_read_back(self):
        """Through our plug-in, and with --pixbuf-loader through the GTK loader too."""
        paths = []
        for name, image, want in self.pictures():
            paths.append(os.path.join(ARGS.scratch, "written-%s.wpp" % name))
            self.assertTrue(QtGui.QImageWriter(paths[-1], b"wpp").write(image), name)
            with open(paths[-1], "rb") as f:
                data = f.read()
            self.assertEqual(data[:16], b"\0" * 16, name)
            self.assertEqual(data[16:], wpp(37, 19, want)[16:], name)
            back = QtGui.QImageReader(paths[-1]).read()
            self.assertEqual(pixels_of(back), want, name + " read back")
        if not ARGS.pixbuf_loader:
            return
        read = subprocess.run([sys.executable, os.path.join(TESTS, "desktop_files.py"), "gtk"] +
                              paths, env=desktop_env(), capture_output=True, text=True)
        self.assertEqual(read.returncode, 0, read.stderr)

    def test_failures_leave_the_callers_file(self):
        """A failed write says why in a warning and returns false; the program's
        open file stays open, as long as it was, and a refusal writes nothing."""
        limit = resource.getrlimit(resource.RLIMIT_FSIZE)
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        warnings = []
        QtCore.qInstallMessageHandler(lambda kind, context, text: warnings.append(text))
        callers = b"".join(b"%08d" % n for n in range(6250))  # 50,000 bytes
        start = 100
        try:
            for what, width, height, file_limit, refused in [
                ("wider than 65535", 65536, 1, None, True),
                ("taller than 65535", 1, 65536, None, True),
                ("the disk full half way", 300, 200, 60000, False),
                # Only the last flush finds it: Qt still buffers the end.
                ("the disk full at the last byte", 300, 200, 120023, False),
            ]:
                image = QtGui.QImage(width, height, enum(QtGui.QImage, "Format", "Format_RGB16"))
                image.fill(0x7E0)
                path = os.path.join(ARGS.scratch, "callers.wpp")
                with open(path, "wb") as f:
                    f.write(callers)
                device = QtCore.QFile(path)
                device.open(enum(QtCore.QIODevice, "OpenModeFlag", "ReadWrite"))
                device.seek(start)
                del warnings[:]
                # The limit is of bytes past the picture's start in each file.
                if file_limit is not None:
                    resource.setrlimit(resource.RLIMIT_FSIZE, (start + file_limit, limit[1]))
                by_device = QtGui.QImageWriter(device, b"wpp").write(image)
                if file_limit is not None:
                    resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, limit[1]))
                by_name = QtGui.QImageWriter(path + ".new", b"wpp").write(image)
                resource.setrlimit(resource.RLIMIT_FSIZE, limit)
                self.assertEqual((by_device, by_name), (False, False), what + ": written")
                self.assertTrue(device.isOpen(), what + ": the program's file was closed")
                self.assertTrue(warnings and all(w.startswith("wpp: ") for w in warnings),
                                what + ": warned %s" % warnings)
                device.close()
                with open(path, "rb") as f:
                    have = f.read()
                self.assertTrue(have[:start] == callers[:start] and len(have) >= len(callers),
                                what + ": the program's file was cut or removed")
                if refused:
                    self.assertTrue(have == callers, what + ": refused, yet written")
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, limit)
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            QtCore.qInstallMessageHandler(None)


class Viewer(unittest.TestCase):
    """The viewer opens a sample under Xvfb; a screenshot holds its pixels at 100 %."""

    def test_viewer_shows_the_pixels(self):
        if not ARGS.viewer:
            self.skipTest("no --viewer")
        sample = os.path.join(ARGS.samples, "odd-width.wpp")
        width, _, pixels = read_wpp(sample)
        with x_session() as env:
            env["QT_QPA_PLATFORM"] = "xcb"
            found, said = shows_picture([ARGS.viewer, sample], env, expected_rows(width, pixels),
                                        ARGS.scratch)
        self.assertTrue(found, "the screenshot never showed the sample's pixels")
        self.assertFalse([line for line in said if "wpp" in line.lower()], said)


class KdeThumbnail(unittest.TestCase):
    """KDE's file manager thumbnail of a sample, through KIO::PreviewJob: the
    type from a MIME database with ours, the picture through our plug-in."""

    def test_thumbnail(self):
        if not ARGS.kde_preview:
            self.skipTest("no --kde-preview")
        out = os.path.join(ARGS.scratch, "thumbnail.png")
        run = subprocess.run([ARGS.kde_preview, os.path.join(ARGS.samples, "colour-bars.wpp"), out],
                             env=desktop_env(), capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        thumbnail = QtGui.QImage(out)
        self.assertEqual((thumbnail.width(), thumbnail.height()), (128, 96))
        for i, want in enumerate(BARS):
            got = QtGui.QColor(thumbnail.pixel(16 * i + 8, 30))
            self.assertTrue(all(abs(a - b) <= 8 for a, b in zip(
                (got.red(), got.green(), got.blue()), want)), (i, got.getRgb(), want))


def main():
    global ARGS, QtCore, QtGui
    parser = argparse.ArgumentParser()
    parser.add_argument("--qt", type=int, choices=(5, 6), required=True)
    parser.add_argument("--scratch")
    parser.add_argument("--samples")
    parser.add_argument("--viewer")
    parser.add_argument("--kde-preview")
    parser.add_argument("--pixbuf-loader")
    parser.add_argument("--build")
    ARGS, rest = parser.parse_known_args()
    try:
        if ARGS.qt == 6:
            from PyQt6 import QtCore, QtGui
        else:
            from PyQt5 import QtCore, QtGui
    except ImportError:
        print("left out: PyQt%d not installed" % ARGS.qt)
        return 77
    if ARGS.viewer:
        left_out(ARGS.viewer, "Xvfb", "dbus-daemon", "import")
    os.makedirs(ARGS.scratch, exist_ok=True)
    ARGS.scratch = tempfile.mkdtemp(dir=ARGS.scratch)
    app = QtGui.QGuiApplication(sys.argv[:1])
    formats = [bytes(f) for f in QtGui.QImageReader.supportedImageFormats()]
    assert b"wpp" in formats, "Qt %d found no wpp plug-in in QT_PLUGIN_PATH" % ARGS.qt
    result = unittest.main(argv=sys.argv[:1] + rest, exit=False).result
    del app
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
