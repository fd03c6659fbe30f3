#!/usr/bin/python3
"""The gdk-pixbuf loader as programs that others wrote use it.

    pixbuf_test.py PART MODULE BUILD_DIR SOURCE_DIR

PART is one of: env (prints the environment of the others, as shell
assignments, for the benchmark to run in), install (cmake --install into a staging folder), mime (GIO's
type guess with our MIME file), pixels (GdkPixbuf through PyGObject: from
files, through loaders fed in pieces, the size alone), thumbnail
(gdk-pixbuf-thumbnailer), viewer (eog under Xvfb, read back from a
screenshot), bad (bad files through GdkPixbuf, and through gdk-pixbuf's own
programs under valgrind). Each part works in a scratch folder of its own, with
a loaders cache and a MIME database of its own, and leaves the machine's alone.
The expected pixels are computed here from the format's definition, and the
pictures written here, apart from the module's code.
"""

import array
import concurrent.futures
import os
import random
import resource
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from desktop_files import (BARS, bad_files, expected_rows, left_out, read_wpp,  # noqa: E402
                           shows_picture, wordperfect_like, wpp, x_session)

PART, MODULE, BUILD, SOURCE = sys.argv[1:5]
SCRATCH = os.path.join(BUILD, "tests", "gdkpixbuf", PART)
SAMPLES = os.path.join(SOURCE, "samples")
LOADERS = subprocess.run(["pkg-config", "--variable=gdk_pixbuf_moduledir", "gdk-pixbuf-2.0"],
                         check=True, capture_output=True, text=True).stdout.strip()
QUERY = subprocess.run(["pkg-config", "--variable=gdk_pixbuf_query_loaders", "gdk-pixbuf-2.0"],
                       check=True, capture_output=True, text=True).stdout.strip()

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


# -- pictures, written here from the format's definition ------------------------------

def pictures():
    """The samples, a few odd sizes, and every 565 value once."""
    rng = random.Random(39)
    found = {name: read_wpp(os.path.join(SAMPLES, name))
             for name in ("colour-bars.wpp", "odd-width.wpp")}
    for width, height in ((1, 1), (3, 2), (7, 5), (255, 1), (1, 300)):
        found["%dx%d.wpp" % (width, height)] = (
            width, height, array.array("H", (rng.randrange(65536) for _ in range(width * height))))
    found["every-value.wpp"] = (256, 256, array.array("H", range(65536)))
    return found


# -- the environment: our module and MIME type beside the machine's --------------------

def prepare():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(os.path.join(SCRATCH, "share", "mime", "packages"))
    shutil.copy(os.path.join(SOURCE, "packaging", "linux", "image-x-wpp.xml"),
                os.path.join(SCRATCH, "share", "mime", "packages"))
    system = sorted(os.path.join(LOADERS, f) for f in os.listdir(LOADERS) if f.endswith(".so"))
    cache = os.path.join(SCRATCH, "loaders.cache")
    with open(cache, "w") as out:
        subprocess.run([QUERY] + system + [MODULE], check=True, stdout=out)
    runtime = os.path.join(SCRATCH, "runtime")
    os.makedirs(runtime, mode=0o700)
    os.environ.update({"GDK_PIXBUF_MODULE_FILE": cache, "HOME": SCRATCH,
                       "XDG_RUNTIME_DIR": runtime, "XDG_CACHE_HOME": os.path.join(SCRATCH, "cache"),
                       "XDG_CONFIG_HOME": os.path.join(SCRATCH, "config"),
                       "XDG_DATA_HOME": os.path.join(SCRATCH, "data"),
                       "XDG_DATA_DIRS": os.path.join(SCRATCH, "share") + ":/usr/share"})
    subprocess.run(["update-mime-database", os.path.join(SCRATCH, "share", "mime")], check=True)


def write(name, data):
    path = os.path.join(SCRATCH, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def pixbuf_module():
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib
    return GdkPixbuf, GLib


def rows_of(pixbuf):
    """A pixbuf's rows, each 3 * width bytes, whatever its stride."""
    data, stride, width = pixbuf.get_pixels(), pixbuf.get_rowstride(), pixbuf.get_width()
    channels = pixbuf.get_n_channels()
    return [data[y * stride:y * stride + channels * width] for y in range(pixbuf.get_height())]


def feed(GdkPixbuf, data, piece):
    """A loader made for our type, fed piece bytes at a time; its pixbuf and the
    rows its updates covered, in order."""
    loader = GdkPixbuf.PixbufLoader.new_with_type("wpp")
    updated = []
    loader.connect("area-updated", lambda _l, x, y, w, h: updated.append((y, h)))
    try:
        for at in range(0, len(data), piece):
            loader.write(data[at:at + piece])
    finally:
        loader.close()
    return loader.get_pixbuf(), updated


# -- the parts -------------------------------------------------------------------------

def part_install():
    # Another prefix puts every file below it, where the README's variables find them.
    other = os.path.join(SCRATCH, "other")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr/local"], check=True,
                   env=dict(os.environ, DESTDIR=other), stdout=subprocess.DEVNULL)
    placed = [os.path.relpath(os.path.join(d, f), other) for d, _, fs in os.walk(other) for f in fs]
    outside = [p for p in placed if not p.startswith("usr/local/")]
    check(placed and not outside, "--prefix /usr/local: files outside it: %s" % outside)
    stage = os.path.join(SCRATCH, "stage")
    subprocess.run(["cmake", "--install", BUILD], check=True,
                   env=dict(os.environ, DESTDIR=stage), stdout=subprocess.DEVNULL)
    module = stage + LOADERS + "/libpixbufloader-wpp.so"
    check(os.path.isfile(module), "the module installed in " + LOADERS)
    for path, source in (("/usr/share/mime/packages/image-x-wpp.xml", "image-x-wpp.xml"),
                         ("/usr/share/thumbnailers/wpp.thumbnailer", "wpp.thumbnailer")):
        want = open(os.path.join(SOURCE, "packaging", "linux", source), "rb").read()
        check(os.path.isfile(stage + path) and open(stage + path, "rb").read() == want,
              "installed: " + path)
    # Nothing of ours but the module is installed, so it must need no library of ours.
    needed = subprocess.run(["readelf", "-d", MODULE], check=True, capture_output=True,
                            text=True).stdout
    check("kernel32" not in needed and "wpp" not in needed.replace("pixbufloader-wpp", ""),
          "the module needs no library of ours:\n" + needed)


def part_mime():
    sample = open(os.path.join(SAMPLES, "odd-width.wpp"), "rb").read()
    marked, unmarked = wordperfect_like()
    cases = [  # name, bytes, our MIME file in the path, the type GIO names
        ("sample.wpp", sample, True, "image/x-wpp"),
        ("sample.WPP", sample, True, "image/x-wpp"),
        ("sample.wpp", sample, False, "application/vnd.wordperfect"),
        ("sample", sample, True, "application/octet-stream"),
        ("unmarked.wpp", unmarked, True, "image/x-wpp"),
        ("marked.wpp", marked, True, "application/vnd.wordperfect"),
    ]
    for name, data, ours, want in cases:
        path = write(name, data)
        env = dict(os.environ)
        if not ours:
            env["XDG_DATA_DIRS"] = "/usr/share"
        out = subprocess.run(["gio", "info", "-a", "standard::content-type", path], env=env,
                             check=True, capture_output=True, text=True).stdout
        have = out.strip().split()[-1]
        check(have == want, "gio info %s (ours %s): %s, not %s" % (name, ours, have, want))
        os.remove(path)


def part_pixels():
    GdkPixbuf, _ = pixbuf_module()
    formats = [f for f in GdkPixbuf.Pixbuf.get_formats() if f.get_name() == "wpp"]
    check(len(formats) == 1 and formats[0].get_mime_types() == ["image/x-wpp"] and
          formats[0].get_extensions() == ["wpp"] and not formats[0].is_writable() and
          not formats[0].is_disabled(), "the module's format: wpp, image/x-wpp, .wpp, read-only")
    for name, (width, height, pixels) in pictures().items():
        data = wpp(width, height, pixels)
        path = write(name, data)
        want = expected_rows(width, pixels)
        have = GdkPixbuf.Pixbuf.new_from_file(path)
        check(have.get_n_channels() == 3 and not have.get_has_alpha() and
              have.get_bits_per_sample() == 8, "%s: 8-bit RGB, no alpha" % name)
        check(rows_of(have) == want, "%s from the file: pixel for pixel" % name)
        info, w, h = GdkPixbuf.Pixbuf.get_file_info(path)
        check(info is not None and info.get_name() == "wpp" and (w, h) == (width, height),
              "%s: get_file_info gives wpp %dx%d" % (name, w, h))
        for piece in (1, 7, 4096):
            if piece == 1 and len(data) > 200000:
                continue  # the largest sample one byte at a time says nothing more
            pixbuf, updated = feed(GdkPixbuf, data, piece)
            check(rows_of(pixbuf) == want, "%s in pieces of %d: pixel for pixel" % (name, piece))
            ends = [0] + [y + h for y, h in updated]
            check([y for y, _ in updated] == ends[:-1] and ends[-1] == height,
                  "%s in pieces of %d: updates cover every row once, in order: %s"
                  % (name, piece, updated[:4]))
    # Bytes after the picture are not its own, and are left unread.
    width, height, pixels = pictures()["7x5.wpp"]
    pixbuf, _ = feed(GdkPixbuf, wpp(width, height, pixels) + b"trailing bytes", 7)
    check(rows_of(pixbuf) == expected_rows(width, pixels), "trailing bytes are ignored")


def part_thumbnail():
    GdkPixbuf, _ = pixbuf_module()
    # The factory copies the file under a name that keeps its extension.
    source = write("copy.wpp", open(os.path.join(SAMPLES, "colour-bars.wpp"), "rb").read())
    out = os.path.join(SCRATCH, "thumbnail.png")
    # The command our thumbnailer entry gives, as the thumbnail factory fills it in.
    entry = open(os.path.join(SOURCE, "packaging", "linux", "wpp.thumbnailer")).read()
    command = [line.split("=", 1)[1] for line in entry.splitlines() if line.startswith("Exec=")][0]
    fill = {"%s": "128", "%u": "file://" + source, "%o": out}
    subprocess.run([fill.get(word, word) for word in command.split()], check=True)
    thumbnail = GdkPixbuf.Pixbuf.new_from_file(out)
    check((thumbnail.get_width(), thumbnail.get_height()) == (128, 96),
          "the thumbnail is 128 x 96: %dx%d" % (thumbnail.get_width(), thumbnail.get_height()))
    row = rows_of(thumbnail)[18]
    channels = thumbnail.get_n_channels()
    for i, want in enumerate(BARS):
        x = 8 + 16 * i
        have = tuple(row[channels * x:channels * x + 3])
        check(all(abs(a - b) <= 1 for a, b in zip(have, want)),
              "thumbnail bar %d: %s, not %s" % (i, have, want))


def part_viewer():
    width, height, pixels = read_wpp(os.path.join(SAMPLES, "colour-bars.wpp"))
    with x_session() as env:
        env.update(GDK_BACKEND="x11", NO_AT_BRIDGE="1")
        found, said = shows_picture(["eog", "--new-instance", os.path.join(SAMPLES, "colour-bars.wpp")],
                                    env, expected_rows(width, pixels), SCRATCH)
    check(found is not None, "eog shows the picture at 100 %, every pixel (see screen.png)")
    print("viewer: the picture is on the screen at", found)
    check(not said, "eog said nothing: %s" % said[:5])


def part_bad():
    GdkPixbuf, GLib = pixbuf_module()
    cases = bad_files(SAMPLES)
    domain = GLib.quark_to_string(GdkPixbuf.PixbufError.quark())
    for name, data, code, word in cases:
        path = write(name, data)
        try:
            GdkPixbuf.Pixbuf.new_from_file(path)
            check(False, "%s: loaded" % name)
        except GLib.Error as e:
            check(e.domain == domain and e.code == code and word in e.message,
                  "%s from the file: %s %d %s" % (name, e.domain, e.code, e.message))
        for piece in (1, 7, 4096):
            if piece == 1 and len(data) > 200000:
                continue
            try:
                feed(GdkPixbuf, data, piece)
                check(False, "%s in pieces of %d: loaded" % (name, piece))
            except GLib.Error as e:
                # Through a loader made for our type, every one is ours to refuse.
                check(e.domain == domain and e.code == GdkPixbuf.PixbufError.CORRUPT_IMAGE and
                      "WPP image" in e.message,
                      "%s in pieces of %d: %s %s" % (name, piece, e.domain, e.message))
    # A picture this process cannot hold (its address space held to 2 GiB):
    # refused for want of memory, not a crash.
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
    path = os.path.join(SCRATCH, "65535x32767.wpp")
    run = subprocess.run(["gdk-pixbuf-thumbnailer", "-s", "128", path, path + ".png"],
                         preexec_fn=limit, capture_output=True, text=True)
    check(run.returncode == 1 and "not enough memory for a 65535 x 32767" in run.stderr,
          "65535x32767.wpp in 2 GiB: %d %s" % (run.returncode, run.stderr))
    # gdk-pixbuf's own programs under memcheck: the whole-file load (pixdata)
    # and the incremental one (the thumbnailer), every bad file.
    suppressions = os.path.join(SOURCE, "tests", "gdkpixbuf", "valgrind.supp")

    def under_valgrind(program):
        name, command = program
        run = subprocess.run(["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                              "--errors-for-leak-kinds=definite",
                              "--suppressions=" + suppressions] + command,
                             capture_output=True, text=True)
        return name, command[0], run

    programs = []
    for name, _, _, _ in cases:
        path = os.path.join(SCRATCH, name)
        programs.append((name, ["gdk-pixbuf-pixdata", path, path + ".pixdata"]))
        programs.append((name, ["gdk-pixbuf-thumbnailer", "-s", "128", path, path + ".png"]))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        for name, program, run in pool.map(under_valgrind, programs):
            # Refused, not crashed, and memcheck clean.
            check(run.returncode == 1, "%s under valgrind's %s: status %d\n%s"
                  % (name, program, run.returncode, run.stderr[-2000:]))
            out = os.path.join(SCRATCH, name + (".png" if "thumbnailer" in program else ".pixdata"))
            check(not os.path.exists(out), "%s: %s wrote nothing" % (name, program))
            if program.endswith("pixdata"):
                print("%s: %s" % (name, run.stdout.strip() or run.stderr.strip()))


def part_env():
    for name in ("GDK_PIXBUF_MODULE_FILE", "XDG_DATA_DIRS"):
        print("export %s='%s'" % (name, os.environ[name]))


# Each part and the programs it runs beside the MIME database's, which all need.
PARTS = {"env": (part_env, []), "install": (part_install, ["readelf"]), "mime": (part_mime, ["gio"]),
         "pixels": (part_pixels, []), "thumbnail": (part_thumbnail, ["gdk-pixbuf-thumbnailer"]),
         "viewer": (part_viewer, ["eog", "Xvfb", "import", "dbus-daemon"]),
         "bad": (part_bad, ["valgrind", "gdk-pixbuf-thumbnailer", "gdk-pixbuf-pixdata"])}

if __name__ == "__main__":
    left_out("update-mime-database", *PARTS[PART][1])
    prepare()
    PARTS[PART][0]()
    if PART == "env":
        sys.exit(0)
    if failures:
        print("%s: %d failures" % (PART, len(failures)))
        sys.exit(1)
    print("%s: passed" % PART)
