// The page itself, from file://, in Debian's headless Chromium (driven
// through its DevTools protocol) and Firefox ESR (through WebDriver BiDi),
// each in turn: pictures chosen in the file input show every pixel,
// the PNG saved holds them, the PNG opened again saves as the same WPP, every
// bad file gets its reason while the page goes on, the keyboard reaches every
// button, and no request leaves the page.
import assert from "node:assert/strict";
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, test } from "node:test";
import { pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

import { badFiles, build, expected, readPng, sample, sameBytes, samples } from "./shared.mjs";

// Debian's browsers as they are installed; never one downloaded.
const browsers = {
  chromium: { browser: "chrome", executablePath: "/usr/bin/chromium", args: ["--headless", "--no-sandbox",
    "--disable-gpu", "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run"] },
  firefox: { browser: "firefox", executablePath: "/usr/bin/firefox-esr", args: ["--headless"] },
};
const pageUrl = pathToFileURL(join(build, "wpp.html")).href;
let scratch, downloads, browser, page, requests, settled;

for (const [name, options] of Object.entries(browsers)) describe(name, () => {
  before(async () => {
    scratch = mkdtempSync(join(tmpdir(), "wpp-page-"));
    downloads = join(scratch, "downloads");
    requests = [];
    settled = 0;
    // Firefox takes its download folder from its preferences.
    browser = await puppeteer.launch({ ...options, headless: true,
      downloadBehavior: { policy: "allow", downloadPath: downloads },
      extraPrefsFirefox: { "browser.download.folderList": 2, "browser.download.dir": downloads,
        "browser.download.useDownloadDir": true } });
    page = await browser.newPage();
    page.on("request", (request) => request.url() === pageUrl || requests.push(request.url()));
    await page.goto(pageUrl);
  });
  after(async () => {
    await browser?.close();
    rmSync(scratch, { recursive: true, force: true });
  });

  // Chooses files in the page's input and waits until each has its card.
  async function choose(paths) {
    await (await page.$("#files")).uploadFile(...paths);
    settled += paths.length;
    await page.waitForFunction((n) => Number(document.body.dataset.settled) >= n, { timeout: 20000 }, settled);
  }

  // The card of a file: its canvas's pixels, its facts or its reason.
  function card(name) {
    return page.evaluate((name) => {
      const item = [...document.querySelectorAll(".picture")].find((li) => li.querySelector("h3").textContent === name);
      const canvas = item.querySelector("canvas");
      const pixels = canvas && canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height);
      return { facts: item.querySelector(".facts")?.textContent, reason: item.querySelector(".reason")?.textContent,
        width: canvas?.width, height: canvas?.height, data: pixels && [...pixels.data] };
    }, name);
  }

  // Presses a card's button: from the keyboard, as a person without a mouse
  // does, or with a click. Headless Firefox leaves its window without focus
  // after a download, so keys reach a page only before the first.
  async function press(name, label, keyboard) {
    await page.evaluate((name, label, keyboard) => {
      const item = [...document.querySelectorAll(".picture")].find((li) => li.querySelector("h3").textContent === name);
      const button = [...item.querySelectorAll("button")].find((b) => b.textContent === label);
      keyboard ? button.focus() : button.click();
    }, name, label, keyboard);
    if (keyboard) await page.keyboard.press("Enter");
  }

  // A saved file once whole: Firefox makes it before it writes it.
  async function downloaded(name) {
    const path = join(downloads, name);
    let size = -1;
    for (let i = 0; i < 200; i++) {
      await new Promise((done) => setTimeout(done, 100));
      const now = existsSync(path) ? statSync(path).size : -1;
      if (now > 0 && now === size) break;
      size = now;
    }
    return new Uint8Array(readFileSync(path));
  }

  test("each sample shows every pixel, with its size", async () => {
    await choose(["colour-bars.wpp", "odd-width.wpp"].map((name) => join(samples, name)));
    for (const name of ["colour-bars.wpp", "odd-width.wpp"]) {
      const have = await card(name), want = expected(sample(name));
      assert.equal(have.reason, undefined, name);
      assert.match(have.facts, new RegExp(`^${want.width} × ${want.height} pixels · WPP`), name);
      sameBytes(Uint8Array.from(have.data), want.data, `${name} on the canvas`);
    }
  });

  test("the PNG saved holds every pixel, and saved again as WPP gives the file back", async () => {
    await press("colour-bars.wpp", "Save as PNG", true);
    const png = await downloaded("colour-bars.png"), want = expected(sample("colour-bars.wpp"));
    const have = readPng(png);
    assert.deepEqual([have.width, have.height], [want.width, want.height]);
    sameBytes(have.data, want.data, "colour-bars.png");
    writeFileSync(join(scratch, "bars.png"), png);
    await choose([join(scratch, "bars.png")]);
    await press("bars.png", "Save as WPP", false);
    sameBytes((await downloaded("bars.wpp")).subarray(16), sample("colour-bars.wpp").subarray(16), "bars.wpp");
  });

  test("every bad file gets its reason, and the page goes on", async (t) => {
    const table = badFiles();
    for (const { name, bytes } of table) writeFileSync(join(scratch, name), bytes);
    await choose(table.map(({ name }) => join(scratch, name)));
    for (const { name, word } of table) {
      const { reason } = await card(name);
      t.diagnostic(`${name}: ${reason}`);
      assert.ok(reason?.includes(word), `${name}: "${reason}" holds no "${word}"`);
    }
    await choose([join(samples, "odd-width.wpp")]);
    assert.equal((await card("odd-width.wpp")).reason, undefined);
  });

  test("no request leaves the page", () => {
    assert.deepEqual(requests.filter((url) => !url.startsWith("blob:")), []);
  });
});
