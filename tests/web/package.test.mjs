// The npm package in node: every pixel of the samples and of odd sizes, the
// desktop fronts' bad files and every truncation refused with their reason,
// and encode then decode.
import assert from "node:assert/strict";
import { join } from "node:path";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

import { badFiles, build, expected, sample, sameBytes, sampleNames } from "./shared.mjs";

const { decode, encode } = await import(pathToFileURL(join(build, "package/wpp.js")));

// Rounding down to 5, 6 and 5 bits, then each channel's bits repeated below it.
function throughWpp(rgba) {
  const out = new Uint8Array(rgba.length);
  for (let i = 0; i < rgba.length; i += 4) {
    const r = rgba[i] >> 3, g = rgba[i + 1] >> 2, b = rgba[i + 2] >> 3;
    out.set([(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2), 255], i);
  }
  return out;
}

function randomRgba(count, seed) {
  const data = new Uint8ClampedArray(4 * count);
  for (let i = 0, state = seed; i < data.length; i++) {
    state = (state * 1103515245 + 12345) >>> 0;
    data[i] = state >>> 16;
  }
  return data;
}

test("every pixel of each sample, from any kind of bytes", () => {
  for (const name of sampleNames) {
    const file = sample(name), want = expected(file);
    const copy = new Uint8Array(file.length + 5);
    copy.set(file, 3);
    for (const bytes of [file, file.buffer, new DataView(copy.buffer, 3, file.length), Buffer.from(file)]) {
      const have = decode(bytes);
      assert.deepEqual([have.width, have.height], [want.width, want.height], name);
      assert.ok(have.data instanceof Uint8ClampedArray, name);
      sameBytes(have.data, want.data, name);
    }
  }
});

test("odd sizes: encode rounds as the writer, decode gives each pixel back", () => {
  for (const [width, height] of [[1, 1], [1, 7], [7, 1], [3, 5], [317, 2], [2, 317], [65535, 1], [1, 65535]]) {
    const data = randomRgba(width * height, width * 7 + height);
    const file = encode({ width, height, data });
    assert.equal(file.length, 24 + 2 * width * height, `${width} x ${height}`);
    const header = new DataView(file.buffer);
    assert.deepEqual([header.getUint32(16, true), header.getUint16(20, true), header.getUint16(22, true)],
      [2 * width * height + 4, width, height], `${width} x ${height}`);
    const have = decode(file);
    sameBytes(have.data, throughWpp(data), `${width} x ${height}`);
  }
});

test("encode then decode keeps each sample's every byte", () => {
  for (const name of sampleNames) {
    const file = sample(name);
    sameBytes(encode(decode(file)).subarray(16), file.subarray(16), name);
  }
});

test("what follows a picture is not read", () => {
  const file = sample("odd-width.wpp"), longer = new Uint8Array(file.length + 100).fill(0xee);
  longer.set(file);
  sameBytes(decode(longer).data, expected(file).data, "odd-width.wpp and 100 bytes more");
});

test("every bad file of the desktop fronts is refused with its reason", () => {
  for (const { name, bytes, word } of badFiles())
    assert.throws(() => decode(bytes), (error) => error instanceof Error && error.message.includes(word),
      `${name}: a reason with "${word}"`);
});

test("every truncation of a sample is refused with how far it goes", () => {
  const file = sample("odd-width.wpp");
  for (let size = 0; size < file.length; size++) {
    const want = size < 24 ? `the data ends ${size} byte${size === 1 ? "" : "s"} into its 24-byte header`
      : `the file holds ${size} bytes of the ${file.length} its 317 x 211 header gives`;
    assert.throws(() => decode(file.subarray(0, size)), { message: `truncated WPP image: ${want}` }, `${size} bytes`);
  }
});

test("sizes and data no WPP image has are refused with the reason", () => {
  const cases = [
    [{ width: 0, height: 5, data: new Uint8Array(0) }, "0 x 5 picture cannot be a WPP image"],
    [{ width: 65536, height: 1, data: new Uint8Array(4 * 65536) }, "65536 x 1 picture cannot be a WPP image"],
    [{ width: 65535, height: 65535, data: new Uint8Array(0) }, "65535 x 65535 picture cannot be a WPP image"],
    [{ width: 2, height: 2, data: new Uint8Array(15) }, "16 bytes of RGBA for a 2 x 2 picture, not 15"],
    [{ width: 1.5, height: 2, data: new Uint8Array(12) }, "whole numbers of pixels"],
  ];
  for (const [picture, reason] of cases)
    assert.throws(() => encode(picture), (error) => error instanceof Error && error.message.includes(reason), reason);
  assert.throws(() => decode("not bytes"), TypeError);
});
