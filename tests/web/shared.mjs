// What the web tests share: the picture a WPP file should give, written from
// the format's definition apart from the module; the desktop fronts' table of
// bad files, read from tests/desktop_files.py itself; a PNG reader; and a
// comparison that names the first differing byte.
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { inflateSync } from "node:zlib";

export const source = process.env.WPP_SOURCE ?? new URL("../..", import.meta.url).pathname;
export const build = process.env.WPP_WEB_BUILD ?? join(source, "build/web");
export const samples = join(source, "samples");
export const sampleNames = ["colour-bars.wpp", "odd-width.wpp"];

// RGB565 to RGBA: each channel's bits repeated below it, opaque.
export function expected(file) {
  const width = file[20] | (file[21] << 8), height = file[22] | (file[23] << 8);
  const data = new Uint8Array(4 * width * height);
  for (let i = 0; i < width * height; i++) {
    const p = file[24 + 2 * i] | (file[25 + 2 * i] << 8);
    const r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    data.set([(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2), 255], 4 * i);
  }
  return { width, height, data };
}

export function sample(name) {
  return new Uint8Array(readFileSync(join(samples, name)));
}

// name, bytes and the word the reason must hold, for each bad file of the
// desktop fronts. GIO keeps a marked WordPerfect document from the desktops'
// loaders; nothing stands before the module, which refuses it as no WPP image.
export function badFiles() {
  const dump = "import base64, json, sys; sys.path.insert(0, sys.argv[1]); import desktop_files; " +
    "print(json.dumps([(n, base64.b64encode(b).decode(), w) for n, b, _, w in desktop_files.bad_files(sys.argv[2])]))";
  const table = JSON.parse(execFileSync("python3", ["-c", dump, join(source, "tests"), samples]));
  return table.map(([name, bytes, word]) => ({
    name, bytes: new Uint8Array(Buffer.from(bytes, "base64")),
    word: word === "recognize" ? "not a WPP image" : word,
  }));
}

// have against want, byte by byte: what differs and where first.
export function sameBytes(have, want, what) {
  const length = Math.max(have.length, want.length);
  for (let i = 0; i < length; i++) {
    if (have[i] !== want[i])
      throw new Error(`${what}: first difference at byte ${i} of ${want.length}: have ${have[i]}, want ${want[i]}` +
        (have.length !== want.length ? ` (have ${have.length} bytes)` : ""));
  }
}

// An 8-bit RGB or RGBA PNG, not interlaced, as a browser saves a canvas.
export function readPng(file) {
  const view = new DataView(file.buffer, file.byteOffset, file.byteLength);
  let width = 0, height = 0, channels = 0;
  const compressed = [];
  for (let at = 8; at < file.length;) {
    const length = view.getUint32(at), type = String.fromCharCode(...file.subarray(at + 4, at + 8));
    const body = file.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      width = view.getUint32(at + 8), height = view.getUint32(at + 12);
      if (body[8] !== 8 || body[12] !== 0 || ![2, 6].includes(body[9])) throw new Error("not a plain 8-bit PNG");
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === "IDAT") compressed.push(body);
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(compressed));
  const stride = width * channels, rows = new Uint8Array(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; x++) {
      const a = x >= channels ? rows[y * stride + x - channels] : 0, b = y > 0 ? rows[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? rows[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      rows[y * stride + x] = (line[x] + predictor) & 255;
    }
  }
  const data = new Uint8Array(4 * width * height);
  for (let i = 0; i < width * height; i++) {
    data.set(rows.subarray(i * channels, i * channels + 3), 4 * i);
    data[4 * i + 3] = channels === 4 ? rows[i * channels + 3] : 255;
  }
  return { width, height, data };
}
