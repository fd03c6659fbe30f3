"""What the desktop tests share: WPP files written from the format's
definition, the table of bad files that every desktop front must refuse, and
readers that open WPP files as a desktop program does, with whatever loaders
the environment has, checking every pixel against the file's own:

    desktop_files.py gtk FILE...    GdkPixbuf (by the file's type, as GIO guesses it):
                                   each RGB565 value's channels with their bits
                                   repeated below them to 8
    desktop_files.py qt5|qt6 FILE...  QImage (by Qt's plug-ins): Format_RGB16, the
                                   values as stored, and the type image/x-wpp

Exit status 0 when every file reads so; an assertion names the first that does not.
"""

import array
import contextlib
import os
import shutil
import struct
import subprocess
import sys
import time


def wpp(width, height, pixels, data_length=None):
    """A WPP file: 16 bytes of prefix, the length, the sides, the RGB565 pixels."""
    if data_length is None:
        data_length = 2 * width * height + 4
    return (b"wpp test prefix!" + struct.pack("<IHH", data_length, width, height) +
            array.array("H", pixels).tobytes())


def wpp_file(path):
    data = open(path, "rb").read()
    width, height = struct.unpack_from("<HH", data, 20)
    return data, width, height


def read_wpp(path):
    data, width, height = wpp_file(path)
    return width, height, array.array("H", data[24:24 + 2 * width * height])


# Each RGB565 value as 8-bit RGB, each channel's bits repeated below it, as
# every desktop draws it.
RGB = [bytes(((v >> 11) << 3 | (v >> 11) >> 2,
              ((v >> 5) & 63) << 2 | ((v >> 5) & 63) >> 4,
              (v & 31) << 3 | (v & 31) >> 2)) for v in range(65536)]

# The middles of the samples' colour bars, left to right: white, yellow,
# cyan, green, magenta, red, blue, black; a thumbnail keeps them flat.
BARS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0), (255, 0, 255),
        (255, 0, 0), (0, 0, 255), (0, 0, 0)]


def expected_rows(width, pixels):
    return [b"".join(RGB[v] for v in pixels[y * width:(y + 1) * width])
            for y in range(len(pixels) // width)]


@contextlib.contextmanager
def x_session(size=(1600, 1200)):
    """An X server (Xvfb) and a session bus of their own, so nothing of the
    machine's is touched: the environment to run a program in."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "%dx%dx24" % size, "-nolisten", "tcp"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    # Xvfb writes its number, then a newline, and stops if no one reads it.
    number = b""
    while not number.endswith(b"\n"):
        piece = os.read(read_end, 16)
        assert piece, "Xvfb did not start"
        number += piece
    os.close(read_end)
    env = dict(os.environ, DISPLAY=":" + number.decode().strip())
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    env["WPP_SCREEN"] = "%dx%d" % size
    try:
        yield env
    finally:
        for server in (bus, xvfb):
            server.terminate()
            server.wait()
        bus.stdout.close()


def shows_picture(command, env, rows, scratch, seconds=60):
    """Runs a viewer in an x_session until a screenshot holds every row of the
    picture at 100 %, or seconds pass; where it stood, or None, and what the
    viewer printed. The last screen is left in scratch/screen.png."""
    width = int(env["WPP_SCREEN"].split("x")[0])
    shot = os.path.join(scratch, "screen.rgb")
    with open(os.path.join(scratch, "viewer.log"), "w+") as log:
        viewer = subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT)
        found, deadline = None, time.time() + seconds
        try:
            while found is None and time.time() < deadline and viewer.poll() is None:
                time.sleep(1)
                subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:" + shot], env=env,
                               check=True)
                with open(shot, "rb") as f:
                    found = find_picture(f.read(), width, rows)
            subprocess.run(["import", "-window", "root", os.path.join(scratch, "screen.png")],
                           env=env, check=True)
        finally:
            viewer.terminate()
            viewer.wait()
        log.seek(0)
        return found, [line for line in log.read().splitlines() if line.strip()]


def find_picture(screen, width, rows):
    """Where the picture's every row stands on an RGB screen width pixels wide, or None."""
    stride, first = 3 * width, rows[0]
    for y in range(len(screen) // stride - len(rows) + 1):
        line = screen[y * stride:(y + 1) * stride]
        x = line.find(first)
        while x >= 0:
            if x % 3 == 0 and all(screen[(y + i) * stride + x:(y + i) * stride + x + len(first)] ==
                                  rows[i] for i in range(len(rows))):
                return (x // 3, y)
            x = line.find(first, x + 1)
    return None


def wordperfect_like():
    """A WordPerfect document begins with 0xFF and "WPC"; one without that mark
    (cut, or of an old version) is known by its name alone."""
    rest = bytes(range(12)) + b"\x10\x00\x00\x00\x01\x0a\x02\x01" + bytes(600)
    return b"\xffWPC" + rest, b"\x00\x00\x00\x00" + rest


def whole_header(data):
    """Whether data begins with a header that the format takes: a picture,
    perhaps cut short, that every front must call its own."""
    if len(data) < 24:
        return False
    length, width, height = struct.unpack_from("<IHH", data, 16)
    return width > 0 and height > 0 and length == 2 * width * height + 4


def left_out(*programs):
    """Ends a test that needs a program this machine lacks, naming it, with
    the status that CTest counts as skipped."""
    missing = [p for p in programs if shutil.which(p) is None]
    if missing:
        print("left out: %s not installed" % ", ".join(missing))
        sys.exit(77)


def bad_files(samples):
    """name, bytes, GdkPixbufError code from the file, words of its message."""
    width, height, pixels = read_wpp(os.path.join(samples, "odd-width.wpp"))
    good = wpp(width, height, pixels)
    corrupt, unknown = 0, 3  # GDK_PIXBUF_ERROR_CORRUPT_IMAGE, _UNKNOWN_TYPE
    marked, unmarked = wordperfect_like()
    cases = [("header-%02d.wpp" % n, good[:n], corrupt, "header") for n in range(1, 24)]
    cases += [
        # Refused by a file's size, before the pixels are allocated: the
        # message names the file's bytes, which no later check knows.
        ("no-pixels.wpp", good[:24], corrupt, "the file holds"),
        ("half-a-pixel.wpp", good[:25], corrupt, "the file holds"),
        ("mid-row.wpp", good[:24 + 2 * width * 10 + 7], corrupt, "the file holds"),
        ("last-byte.wpp", good[:-1], corrupt, "the file holds"),
        ("zero-width.wpp", wpp(0, 5, [], 4), corrupt, "width or height of 0"),
        ("zero-height.wpp", wpp(5, 0, [], 4), corrupt, "width or height of 0"),
        ("lying-length.wpp", wpp(width, height, pixels, len(good) - 20 - 2), corrupt, "length"),
        ("longer-length.wpp", wpp(width, height, pixels, len(good) - 20 + 2), corrupt, "length"),
        # No 32-bit length matches 65535 x 65535; 65535 x 32767 is the largest that does.
        ("65535x65535.wpp", wpp(65535, 65535, [], 0xFFFFFFFF), corrupt, "length"),
        ("65535x32767.wpp", wpp(65535, 32767, []), corrupt, "the file holds"),
        # A writer that computed the length in 32 bits.
        ("wrapped-length.wpp", wpp(65535, 65535, [], (2 * 65535 * 65535 + 4) % 2**32), corrupt,
         "length"),
        # GIO keeps a marked one a WordPerfect document, which no loader takes;
        # an unmarked one is offered to ours, which refuses it.
        ("marked-wordperfect.wpp", marked, unknown, "recognize"),
        ("unmarked-wordperfect.wpp", unmarked, corrupt, "not a WPP image"),
    ]
    return cases


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
        want = expected_rows(width, array.array("H", data[24:24 + 2 * width * height]))
        for y in range(height):
            assert pixels[y * stride:y * stride + 3 * width] == want[y], (path, y)


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
