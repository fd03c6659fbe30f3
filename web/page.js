// The page: opens WPP images through decode() and shows each fitted or at
// 100 %, saves any as PNG, and saves any picture the browser opens as WPP
// through encode(). Nothing is sent anywhere; the page's policy forbids it.

const list = document.getElementById("pictures");
const input = document.getElementById("files");
const drop = document.getElementById("drop");
const status = document.getElementById("status");
const numbers = new Intl.NumberFormat();

const isWpp = (file) => /\.wpp$/i.test(file.name);
const stem = (name) => name.replace(/\.[^./\\]*$/, "") || "picture";
const bytesText = (count) => `${numbers.format(count)} bytes`;

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === "text") node.textContent = value;
    else node.setAttribute(key, value);
  }
  node.append(...children);
  return node;
}

function button(label, action, attributes = {}) {
  const node = element("button", { type: "button", ...attributes, text: label });
  node.addEventListener("click", action);
  return node;
}

function save(blob, name) {
  const link = element("a", { href: URL.createObjectURL(blob), download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
}

// A card for one file, first in the list.
function card(name) {
  const item = element("li", { class: "picture" });
  item.append(element("h3", { text: name }));
  list.prepend(item);
  return item;
}

function fail(item, reason) {
  item.classList.add("bad");
  item.setAttribute("role", "alert");
  item.append(element("p", { class: "reason", text: reason }));
  item.append(element("div", { class: "actions" }, button("Dismiss", () => item.remove())));
}

// The picture on a canvas in a view that toggles between fitted and 100 %.
function show(item, picture, facts, saveButton) {
  const canvas = element("canvas", { width: picture.width, height: picture.height });
  const context = canvas.getContext("2d");
  if (context === null) throw new Error(`a ${picture.width} x ${picture.height} picture is larger than this browser can show`);
  context.putImageData(new ImageData(picture.data, picture.width, picture.height), 0, 0);
  const view = element("div", { class: "view fitted", tabindex: "0", role: "img",
    "aria-label": `${item.firstChild.textContent}, ${picture.width} by ${picture.height} pixels` }, canvas);
  const fitted = button("Fitted", () => choose(true), { "aria-pressed": "true" });
  const actual = button("100 %", () => choose(false), { "aria-pressed": "false" });
  function choose(fit) {
    view.className = fit ? "view fitted" : "view actual";
    fitted.setAttribute("aria-pressed", String(fit));
    actual.setAttribute("aria-pressed", String(!fit));
  }
  item.append(element("p", { class: "facts", text: facts }),
    element("div", { class: "actions" }, fitted, actual, saveButton, button("Close", () => item.remove())), view);
  return canvas;
}

function showWpp(item, file, picture) {
  let canvas = null;
  const savePng = button("Save as PNG", () =>
    canvas.toBlob((blob) => blob && save(blob, `${stem(file.name)}.png`), "image/png"));
  canvas = show(item, picture, `${picture.width} × ${picture.height} pixels · WPP, ${bytesText(file.size)}`, savePng);
}

// A picture the browser opens, over white (WPP has no transparency), made a
// WPP image; what shows is that image read back, so what is saved is seen.
function showOther(item, file, bitmap) {
  const { width, height } = bitmap;
  const canvas = element("canvas", { width, height });
  const context = canvas.getContext("2d", { willReadFrequently: true });
  if (context === null) throw new Error(`a ${width} x ${height} picture is larger than this browser can show`);
  context.fillStyle = "#ffffff";
  context.fillRect(0, 0, width, height);
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const wpp = encode(context.getImageData(0, 0, width, height));
  const kind = (file.type.replace(/^image\//, "") || "picture").toUpperCase();
  show(item, decode(wpp), `${width} × ${height} pixels · ${kind}, ${bytesText(file.size)} → WPP, ` +
    `${bytesText(wpp.length)} (5, 6 and 5 bits for red, green and blue; transparency over white)`,
  // As plain bytes: a type the browser does not know may make it ask what to do.
  button("Save as WPP", () => save(new Blob([wpp], { type: "application/octet-stream" }), `${stem(file.name)}.wpp`)));
}

async function open(file) {
  const item = card(file.name);
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (isWpp(file)) return showWpp(item, file, decode(bytes)), true;
    let bitmap;
    try {
      bitmap = await createImageBitmap(file);
    } catch {
      // Not a picture this browser opens: perhaps a WPP image by another name.
      try {
        return showWpp(item, file, decode(bytes)), true;
      } catch (error) {
        throw new Error(`neither a picture this browser opens nor a WPP image (${error.message})`);
      }
    }
    showOther(item, file, bitmap);
    return true;
  } catch (error) {
    fail(item, error instanceof Error ? error.message : String(error));
    return false;
  }
}

async function openAll(files) {
  let opened = 0, refused = 0;
  for (const file of files) (await open(file)) ? opened++ : refused++;
  if (opened + refused === 0) return;
  status.textContent = `${opened} opened` + (refused ? `, ${refused} could not be opened` : "") + ".";
  document.body.dataset.settled = String(Number(document.body.dataset.settled || 0) + opened + refused);
}

document.getElementById("choose").addEventListener("click", () => input.click());
input.addEventListener("change", async () => {
  await openAll([...input.files]);
  input.value = "";
});
// A file dropped anywhere opens here, never replacing the page.
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  drop.classList.add("over");
});
document.addEventListener("dragleave", (event) => {
  if (event.relatedTarget === null) drop.classList.remove("over");
});
document.addEventListener("drop", (event) => {
  event.preventDefault();
  drop.classList.remove("over");
  openAll([...(event.dataTransfer?.files ?? [])]);
});
document.addEventListener("paste", (event) => openAll([...(event.clipboardData?.files ?? [])]));
