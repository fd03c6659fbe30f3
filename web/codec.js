// WPP pictures in JavaScript, through the WebAssembly module built from the
// same back end as the desktop loaders: decode(bytes) and encode(picture).
// The module is inline (base64), compiled on first use, and imports nothing.
// The page and the npm package both carry this file as it is.

const MODULE_BASE64 = "@WPP_MODULE_BASE64@";
// The 24-byte header that every WPP image begins with.
const HEADER_SIZE = 24;
// The RGBA that encode hands the module at a time, as the decoder's bands.
const BAND_BYTES = 256 * 1024;
const decoder = new TextDecoder();

let exports_ = null;
function module_() {
  if (exports_ === null) {
    const bytes = Uint8Array.from(atob(MODULE_BASE64), (c) => c.charCodeAt(0));
    exports_ = new WebAssembly.Instance(new WebAssembly.Module(bytes), {}).exports;
  }
  return exports_;
}

// The module's memory as bytes; a new view after anything that may grow it.
function memory(wasm) {
  return new Uint8Array(wasm.memory.buffer);
}

function text(wasm, at) {
  const bytes = memory(wasm);
  let end = at;
  while (bytes[end] !== 0) end++;
  return decoder.decode(bytes.subarray(at, end));
}

function asBytes(bytes) {
  if (bytes instanceof Uint8Array) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError("decode takes the bytes of a WPP image: a Uint8Array, an ArrayBuffer or a view");
}

// A WPP image's bytes to {width, height, data}: data is the RGBA pixels, top
// row first, in a Uint8ClampedArray as ImageData takes it. Throws an Error
// naming the reason for anything that is not a whole WPP image; bytes after
// the picture are not read.
export function decode(bytes) {
  const file = asBytes(bytes);
  const wasm = module_();
  const state = wasm.decoder_new();
  if (state === 0) throw new Error("not enough memory to decode a WPP image");
  try {
    const given = Math.min(file.length, HEADER_SIZE);
    memory(wasm).set(file.subarray(0, given), wasm.decoder_input(state));
    if (!wasm.decoder_begin(state, given, file.length)) throw new Error(text(wasm, wasm.decoder_reason(state)));
    const width = wasm.decoder_width(state);
    const height = wasm.decoder_height(state);
    let data;
    try {
      data = new Uint8ClampedArray(width * height * 4);
    } catch {
      throw new Error(`not enough memory for a ${width} x ${height} WPP image`);
    }
    const band = wasm.decoder_band_rows(state);
    const input = wasm.decoder_input(state);
    const rgba = wasm.decoder_rgba(state);
    const view = memory(wasm);
    // Copied as bytes of one type: between a Uint8Array and a
    // Uint8ClampedArray, engines copy element by element, a hundred times slower.
    const out = new Uint8Array(data.buffer);
    for (let row = 0; row < height; row += band) {
      const rows = Math.min(band, height - row);
      const from = HEADER_SIZE + 2 * width * row;
      view.set(file.subarray(from, from + 2 * width * rows), input);
      wasm.decoder_rows(state, rows);
      out.set(view.subarray(rgba, rgba + 4 * width * rows), 4 * width * row);
    }
    return { width, height, data };
  } finally {
    wasm.decoder_free(state);
  }
}

// {width, height, data} (RGBA, top row first, as in an ImageData) to the
// bytes of a WPP image: each channel's top bits, as the project's other
// writers round; alpha is not kept (draw the picture over a background
// first to choose what shows through). Throws an Error naming the reason
// for a size no WPP image has.
export function encode(picture) {
  const { width, height, data } = picture ?? {};
  if (!Number.isInteger(width) || !Number.isInteger(height) || width < 0 || height < 0)
    throw new Error("encode takes {width, height, data}: whole numbers of pixels");
  const wasm = module_();
  const reasonBlock = wasm.alloc(wasm.reason_size());
  const header = wasm.alloc(HEADER_SIZE);
  try {
    if (reasonBlock === 0 || header === 0) throw new Error("not enough memory to encode a WPP image");
    const refused = wasm.encode_header(header, Math.min(width, 0xffffffff), Math.min(height, 0xffffffff), reasonBlock);
    if (refused !== 0) throw new Error(text(wasm, refused));
    if (!data || data.length !== width * height * 4)
      throw new Error(`encode takes ${width * height * 4} bytes of RGBA for a ${width} x ${height} picture, not ${data?.length ?? 0}`);
    let bytes;
    try {
      bytes = new Uint8Array(HEADER_SIZE + 2 * width * height);
    } catch {
      throw new Error(`not enough memory for a ${width} x ${height} WPP image`);
    }
    bytes.set(memory(wasm).subarray(header, header + HEADER_SIZE));
    const source = asBytes(data);
    // A band of rows at a time, in and out of the module's memory.
    const band = Math.max(1, Math.min(height, Math.floor(BAND_BYTES / (4 * width))));
    const rgba = wasm.alloc(4 * width * band);
    const pixels = wasm.alloc(2 * width * band);
    try {
      if (rgba === 0 || pixels === 0) throw new Error("not enough memory to encode a WPP image");
      for (let row = 0; row < height; row += band) {
        const rows = Math.min(band, height - row);
        memory(wasm).set(source.subarray(4 * width * row, 4 * width * (row + rows)), rgba);
        wasm.encode_pixels(rgba, pixels, width * rows);
        bytes.set(memory(wasm).subarray(pixels, pixels + 2 * width * rows), HEADER_SIZE + 2 * width * row);
      }
    } finally {
      wasm.release(rgba);
      wasm.release(pixels);
    }
    return bytes;
  } finally {
    wasm.release(reasonBlock);
    wasm.release(header);
  }
}
