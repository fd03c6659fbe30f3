"""Black-box tests of wpp2bmp, the viewer-side tool, in either build.

The pictures are read back by Pillow's BMP decoder, which we did not write,
and compared byte for byte with a BMP framed here from first principles, so
both builds of the tool must produce the very same files.

    wpp2bmp_test.py --tool PATH --plugin PATH --scratch DIR [--emulator COMMAND] [--windows]
                    [--samples DIR]

With WPP_MAKE_WPP naming make_wpp, the samples in --samples are remade and compared.
"""

import argparse
import glob
import os
import random
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

ARGS = None


def wpp_image(width, height, pixels, prefix=b"WPP test image.."):
    """A WPP file: 16 free bytes, dataLength, width, height, RGB565 pixels."""
    assert len(prefix) == 16 and len(pixels) == width * height
    header = prefix + struct.pack("<IHH", 2 * width * height + 4, width, height)
    return header + struct.pack("<%dH" % len(pixels), *pixels)


def random_pixels(width, height, seed):
    rng = random.Random(seed)
    return [rng.randrange(0x10000) for _ in range(width * height)]


def reference_bmp(width, height, pixels):
    """The BMP the tool must write: file header, DIB header, bottom-up rows of
    RGB555 each padded to 4 bytes with zeros, and nothing after them."""
    stride = (2 * width + 3) & ~3
    size_image = stride * height
    rows = []
    for y in reversed(range(height)):
        row = [((p & 0xFFC0) >> 1) | (p & 0x001F) for p in pixels[y * width:(y + 1) * width]]
        packed = struct.pack("<%dH" % width, *row)
        rows.append(packed + b"\0" * (stride - len(packed)))
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 16, 0, size_image, 0, 0, 0, 0)
    file_header = b"BM" + struct.pack("<IHHI", 14 + 40 + len(bits), 0, 0, 54)
    return file_header + info + bits


def by_lines(output):
    """Output with each line ended by \n: a Windows console program writes \r\n."""
    return "".join(line + "\n" for line in output.decode().splitlines())


class Wpp2Bmp(unittest.TestCase):
    def setUp(self):
        # Relative paths in a folder of our own, so a Windows build under an
        # emulator sees the same names.
        self.folder = tempfile.mkdtemp(prefix="wpp2bmp-", dir=ARGS.scratch)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def write(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as f:
            f.write(data)
        return name

    def read(self, name, folder=None):
        with open(os.path.join(folder or self.folder, name), "rb") as f:
            return f.read()

    def run_tool(self, *args, tool=None, cwd=None):
        command = shlex.split(ARGS.emulator) + [tool or ARGS.tool, "--quiet"] + list(args)
        done = subprocess.run(command, cwd=cwd or self.folder, capture_output=True, timeout=900)
        return done.returncode, by_lines(done.stdout), by_lines(done.stderr)

    def assertBytesEqual(self, have, want):
        if have != want:
            at = next((i for i, (a, b) in enumerate(zip(have, want)) if a != b),
                      min(len(have), len(want)))
            self.fail("have %d bytes, want %d; first difference at offset %d: have %r, want %r"
                      % (len(have), len(want), at, have[at:at + 8], want[at:at + 8]))

    def assertOnly(self, *names):
        """The folder holds just these files: no BMP, no temporary left behind."""
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(names))

    def test_pictures_decode_to_the_source_colours_and_match_the_reference(self):
        for width, height in [(6, 4), (5, 3), (1, 1), (1, 7), (9, 1), (64, 33), (317, 2)]:
            with self.subTest(width=width, height=height):
                pixels = random_pixels(width, height, width * 1000 + height)
                source = self.write("in-%dx%d.wpp" % (width, height), wpp_image(width, height, pixels))
                target = "out-%dx%d.bmp" % (width, height)
                status, out, err = self.run_tool("-o", target, source)
                self.assertEqual((status, err), (0, ""))
                self.assertIn("%s -> %s" % (source, target), out)
                self.assertBytesEqual(self.read(target), reference_bmp(width, height, pixels))
                with Image.open(os.path.join(self.folder, target)) as picture:
                    self.assertEqual(picture.size, (width, height))
                    rgb = picture.convert("RGB")
                    for y in range(height):
                        for x in range(width):
                            p = pixels[y * width + x]
                            # Each channel keeps 5 bits, however the decoder widens them.
                            want = (p >> 11, (p >> 6) & 31, p & 31)
                            have = tuple(c >> 3 for c in rgb.getpixel((x, y)))
                            self.assertEqual(have, want, "pixel (%d, %d)" % (x, y))

    def test_a_sample_converts_and_a_foreign_file_is_refused(self):
        image = self.read("odd-width.wpp", ARGS.samples)
        width, height = struct.unpack_from("<HH", image, 20)
        pixels = list(struct.unpack_from("<%dH" % (width * height), image, 24))
        self.write("sample.wpp", image)
        self.write("text.wpp", b"not a picture\n" * 4)
        self.assertEqual(self.run_tool("-o", "out.bmp", "sample.wpp")[0], 0)
        self.assertBytesEqual(self.read("out.bmp"), reference_bmp(width, height, pixels))
        self.assertEqual(self.run_tool("text.wpp"),
                         (2, "", "wpp2bmp: text.wpp: not a WPP image\n"))

    def test_offset_and_memory_modes_write_the_same_file(self):
        pixels = random_pixels(7, 5, 7)
        image = wpp_image(7, 5, pixels)
        self.write("plain.wpp", image)
        self.write("inside.bin", os.urandom(1000) + image + b"\0" * 2048)
        cases = [("file", ["plain.wpp"]), ("memory", ["--memory", "plain.wpp"]),
                 ("offset", ["--offset", "1000", "inside.bin"]),
                 ("offset in memory", ["--memory", "--offset", "1000", "inside.bin"])]
        for name, args in cases:
            with self.subTest(name):
                status, _, err = self.run_tool("-o", "out.bmp", *args)
                self.assertEqual((status, err), (0, ""))
                self.assertBytesEqual(self.read("out.bmp"), reference_bmp(7, 5, pixels))

    def test_each_failure_has_its_status_and_message_and_leaves_no_file(self):
        good = wpp_image(4, 4, random_pixels(4, 4, 1))
        self.write("text.wpp", b"this is not a picture at all, just some words\n" * 4)
        self.write("short.wpp", good[:-1])
        self.write("good.wpp", good)
        cases = [
            ("not WPP", ["text.wpp"], 2, "text.wpp: not a WPP image"),
            ("truncated", ["short.wpp"], 2, "short.wpp: not a WPP image"),
            ("offset past the image", ["--offset", "4", "good.wpp"], 2, "good.wpp: not a WPP image"),
            ("missing", ["absent.wpp"], 3, "absent.wpp: cannot be read"),
            ("cancelled before", ["--cancel-at-progress-call", "1", "good.wpp"], 5, "good.wpp: cancelled"),
            ("cancelled after", ["--cancel-at-progress-call", "2", "good.wpp"], 5, "good.wpp: cancelled"),
            ("cancelled in memory", ["--memory", "--cancel-at-progress-call", "2", "good.wpp"], 5,
             "good.wpp: cancelled"),
        ]
        for name, args, want_status, want_err in cases:
            with self.subTest(name):
                status, out, err = self.run_tool(*args)
                self.assertEqual((status, out, err), (want_status, "", "wpp2bmp: %s\n" % want_err))
                self.assertOnly("text.wpp", "short.wpp", "good.wpp")

    def test_several_inputs_go_to_a_folder_and_the_first_failure_sets_the_status(self):
        os.mkdir(os.path.join(self.folder, "out"))
        a = self.write("a.wpp", wpp_image(3, 2, random_pixels(3, 2, 3)))
        b = self.write("b.wpp", b"\0" * 100)
        c = self.write("c.wpp", wpp_image(2, 3, random_pixels(2, 3, 4)))
        status, _, err = self.run_tool("-o", "out", a, b, c)
        self.assertEqual((status, err), (2, "wpp2bmp: b.wpp: not a WPP image\n"))
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder, "out"))), ["a.bmp", "c.bmp"])

    def test_usage_and_plugin_problems_give_status_1(self):
        self.write("good.wpp", wpp_image(2, 2, [1, 2, 3, 4]))
        self.write("fake-plugin", b"not a library")
        cases = [("no folder", ["-o", "nowhere", "good.wpp"]),
                 ("unknown option", ["--frobnicate", "good.wpp"]),
                 ("bad offset", ["--offset", "-1", "good.wpp"]),
                 ("plug-in missing", ["--plugin", "absent-plugin", "good.wpp"]),
                 ("plug-in not loadable", ["--plugin", "fake-plugin", "good.wpp"])]
        for name, args in cases:
            with self.subTest(name):
                status, _, err = self.run_tool(*args)
                self.assertEqual(status, 1)
                self.assertTrue(err.startswith("wpp2bmp: "), err)
                self.assertOnly("good.wpp", "fake-plugin")

    def test_info_describes_without_writing(self):
        self.write("odd.wpp", wpp_image(65535, 1, [0] * 65535))
        status, out, err = self.run_tool("--info", "odd.wpp")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "odd.wpp: 65535 x 1, 16 bits per pixel\nzorplex sample\n")
        self.assertOnly("odd.wpp")

    def test_plugin_information_is_shown(self):
        status, out, _ = self.run_tool("--plugin-info")
        self.assertEqual(status, 0)
        self.assertIn("interface:   00IN\n", out)
        self.assertIn("pattern:     *.wpp\n", out)
        # Windows paths are UTF-16: the tool takes the wide entry points there.
        wide = "UTF-16, through the wide entry points" if ARGS.windows else "8-bit"
        self.assertRegex(out, "paths: +" + wide)

    def test_a_name_no_code_page_spells_converts(self):
        pixels = random_pixels(5, 2, 11)
        name = "\u56fe\u50cf \u0141\u00f3d\u017a \U0001F5BC"
        self.write(name + ".wpp", wpp_image(5, 2, pixels))
        status, _, err = self.run_tool(name + ".wpp")
        self.assertEqual((status, err), (0, ""))
        self.assertBytesEqual(self.read(name + ".bmp"), reference_bmp(5, 2, pixels))

    def test_the_tool_runs_from_a_folder_no_code_page_spells(self):
        # The tool and its plug-in copied there find each other, and every
        # name it prints comes out whole (UTF-8 when not a console).
        folder = os.path.join(self.folder, "\u03a9mega \u5c71\u7530")
        os.mkdir(folder)
        tool = shutil.copy(ARGS.tool, folder)
        plugin = shutil.copy(ARGS.plugin, folder)
        # A Linux build's POSIX layer, which the tool and plug-in find beside them.
        for library in glob.glob(os.path.join(os.path.dirname(ARGS.tool), "lib*.so.*")):
            shutil.copy(library, folder)
        pixels = random_pixels(3, 2, 12)
        name = "\u56fe\u50cf \U0001F5BC"
        with open(os.path.join(folder, name + ".wpp"), "wb") as f:
            f.write(wpp_image(3, 2, pixels))
        cases = [("the plug-in beside it", tool, []), ("named", ARGS.tool, ["--plugin", plugin])]
        for case, program, args in cases:
            with self.subTest(case):
                status, out, err = self.run_tool(*args, "--plugin-info", name + ".wpp",
                                                 tool=program, cwd=folder)
                self.assertEqual((status, err), (0, ""))
                self.assertRegex(out, "plug-in: +.*%s[\\\\/]%s\n" % (
                    os.path.basename(folder), os.path.basename(plugin)))
                self.assertIn("%s.wpp -> %s.bmp\n" % (name, name), out)
                with open(os.path.join(folder, name + ".bmp"), "rb") as f:
                    self.assertBytesEqual(f.read(), reference_bmp(3, 2, pixels))

    def test_help_lists_the_exit_statuses_of_the_tools_guide(self):
        status, out, _ = self.run_tool("--help")
        self.assertEqual(status, 0)
        self.assertNotIn("cancel-at", out)
        have = re.findall(r"^  (\d)  (.+)$", out, re.M)
        with open(os.path.join(ARGS.samples, "..", "docs", "tools.md"), encoding="utf-8") as f:
            want = re.findall(r"^\| (\d) \| (.+) \|$", f.read(), re.M)
        self.assertEqual(have, want)

    @unittest.skipUnless(os.environ.get("WPP_MAKE_WPP"), "needs the image maker")
    def test_committed_samples_are_what_the_maker_makes(self):
        for name, width, height in [("colour-bars", 640, 480), ("odd-width", 317, 211)]:
            with self.subTest(name):
                made = os.path.join(self.folder, name + ".wpp")
                subprocess.run([os.environ["WPP_MAKE_WPP"], "pattern", str(width), str(height), made],
                               check=True, capture_output=True)
                self.assertBytesEqual(self.read(name + ".wpp"), self.read(name + ".wpp", ARGS.samples))

    @unittest.skipUnless(os.environ.get("WPP_MAKE_WPP"), "needs the image maker")
    def test_the_maker_names_its_limits_when_it_refuses_a_size(self):
        self.write("big.ppm", b"P6 65535 32768 255\n")
        limits = "at most 1073741816 pixels in all"
        cases = [("a valid WPP size past its limit", ["pattern", "65535", "32768"], 1),
                 ("a side too long", ["pattern", "65536", "1"], 1),
                 ("no pixels", ["pattern", "0", "5"], 1),
                 ("a negative side", ["pattern", "-1", "5"], 1),
                 ("not a number", ["pattern", "12abc", "3"], 1),
                 ("a PPM past its limit", ["ppm", "big.ppm"], 2)]
        for name, args, want_status in cases:
            with self.subTest(name):
                done = subprocess.run([os.environ["WPP_MAKE_WPP"]] + args + ["out.wpp"],
                                      cwd=self.folder, capture_output=True)
                self.assertEqual(done.returncode, want_status)
                self.assertIn(limits, done.stderr.decode())
                self.assertOnly("big.ppm")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--tool", "--plugin", "--scratch"):
        parser.add_argument(option, required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--samples", default="")
    parser.add_argument("--windows", action="store_true")
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.scratch, exist_ok=True)
    ARGS.tool, ARGS.plugin = os.path.abspath(ARGS.tool), os.path.abspath(ARGS.plugin)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
