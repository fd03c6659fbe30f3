// The web module's benchmark, in headless Chromium, one run: a 4096 x 4096
// WPP image decoded by the package's decode() into an ImageData, against
// the same picture as PNG through the browser's own createImageBitmap; and
// decode() against a plain copy of the same bytes inside the same module
// (its copy export). Medians of interleaved repetitions, as ratios. Beside
// them, what decode() is made of: the module's rows alone (warm memory, no
// copy in or out), and filling a fresh array of the ImageData's size, the
// first touch of memory that any decoder returning new pixels pays.
//   node bench/web_bench.mjs BUILD_DIR [REPETITIONS]
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join } from "node:path";

const build = process.argv[2];
const repetitions = Number(process.argv[3] ?? 9);
// puppeteer-core as the web tests pin it.
const require = createRequire(new URL("../tests/web/package.json", import.meta.url));
const { default: puppeteer } = await import(require.resolve("puppeteer-core"));
const chromiumFlags = ["--headless", "--no-sandbox", "--disable-gpu",
  "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run"];

const browser = await puppeteer.launch({ executablePath: process.env.WPP_CHROMIUM ?? "/usr/bin/chromium",
  headless: true, args: chromiumFlags });
try {
  const page = await browser.newPage();
  await page.goto("about:blank");
  const codec = readFileSync(join(build, "package/wpp.js"), "utf8").replace(/^export /gm, "");
  await page.addScriptTag({ content: `${codec}\nwindow.wpp = { decode, encode };` });
  const moduleBytes = [...readFileSync(join(build, "wpp.wasm"))];
  const result = await page.evaluate(async (moduleBytes, repetitions) => {
    const side = 4096;
    // A picture as a photograph's is to a compressor: smooth, with noise.
    const rgba = new Uint8ClampedArray(4 * side * side);
    for (let y = 0, state = 1; y < side; y++)
      for (let x = 0; x < side; x++) {
        state = (state * 1103515245 + 12345) >>> 0;
        const noise = (state >>> 27) - 16, i = 4 * (y * side + x);
        rgba[i] = ((x * 255) / side) + noise;
        rgba[i + 1] = ((y * 255) / side) + noise;
        rgba[i + 2] = 128 + 100 * Math.sin((x + y) / 300) + noise;
        rgba[i + 3] = 255;
      }
    const wppBytes = wpp.encode({ width: side, height: side, data: rgba });
    const picture = wpp.decode(wppBytes);
    const canvas = new OffscreenCanvas(side, side);
    canvas.getContext("2d").putImageData(new ImageData(picture.data, side, side), 0, 0);
    const png = await canvas.convertToBlob({ type: "image/png" });

    const instance = new WebAssembly.Instance(new WebAssembly.Module(new Uint8Array(moduleBytes)), {}).exports;
    const from = instance.alloc(wppBytes.length), to = instance.alloc(wppBytes.length);
    new Uint8Array(instance.memory.buffer).set(wppBytes, from);

    const times = { wpp: [], png: [], copy: [], rows: [], fresh: [] };
    for (let i = 0; i < repetitions; i++) {
      let start = performance.now();
      const decoded = wpp.decode(wppBytes);
      new ImageData(decoded.data, decoded.width, decoded.height);
      times.wpp.push(performance.now() - start);
      start = performance.now();
      (await createImageBitmap(png)).close();
      times.png.push(performance.now() - start);
      start = performance.now();
      instance.copy(to, from, wppBytes.length);
      times.copy.push(performance.now() - start);
      const state = instance.decoder_new();
      new Uint8Array(instance.memory.buffer).set(wppBytes.subarray(0, 24), instance.decoder_input(state));
      instance.decoder_begin(state, 24, wppBytes.length);
      const band = instance.decoder_band_rows(state);
      start = performance.now();
      for (let row = 0; row < side; row += band) instance.decoder_rows(state, band);
      times.rows.push(performance.now() - start);
      instance.decoder_free(state);
      start = performance.now();
      new Uint8ClampedArray(4 * side * side).fill(1);
      times.fresh.push(performance.now() - start);
    }
    const median = (list) => list.sort((a, b) => a - b)[list.length >> 1];
    return { wppBytes: wppBytes.length, pngBytes: png.size, wpp: median(times.wpp), png: median(times.png),
      copy: median(times.copy), rows: median(times.rows), fresh: median(times.fresh), simd: WebAssembly.validate(new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96,
        0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11])) };
  }, moduleBytes, repetitions);
  const version = await browser.version();
  const mb = (bytes, ms) => (bytes / 1e6 / (ms / 1e3)).toFixed(0);
  console.log(`== ${version}, 4096 x 4096, medians of ${repetitions}`);
  console.log(`WPP ${result.wppBytes} bytes, decode() into an ImageData: ${result.wpp.toFixed(1)} ms (${mb(result.wppBytes, result.wpp)} MB/s of WPP)`);
  console.log(`PNG ${result.pngBytes} bytes, createImageBitmap: ${result.png.toFixed(1)} ms`);
  console.log(`copy of the WPP bytes in the module: ${result.copy.toFixed(1)} ms (${mb(result.wppBytes, result.copy)} MB/s)`);
  console.log(`the module's rows alone, warm memory: ${result.rows.toFixed(1)} ms; a fresh ${4 * 4096 * 4096}-byte array filled: ${result.fresh.toFixed(1)} ms`);
  console.log(`WebAssembly SIMD in this browser: ${result.simd ? "yes" : "no"}`);
  console.log(`| WPP decode / PNG decode, time (goal <= 0.5) | ${(result.wpp / result.png).toFixed(2)} |`);
  console.log(`| module rows alone / copy, speed             | ${(result.copy / result.rows).toFixed(2)} |`);
  console.log(`| WPP decode / copy, speed (goal >= 0.5)      | ${(result.copy / result.wpp).toFixed(2)} |`);
} finally {
  await browser.close();
}
