// The explorer page in a real browser: headless Chromium loads it from a
// loopback server, opened by ?archive= or by choosing a file as a person
// would, and the DOM contract is checked on what it renders.
import assert from "node:assert/strict";
import { existsSync, readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { extname, join, normalize } from "node:path";
import { after, before, test } from "node:test";
import { Chromium } from "./chromium.mjs";

const SITE = process.env.BRACKWATER_JS_DIR;
const CHROMIUM = process.env.CHROMIUM;
const ARCHIVE = process.env.BRACKWATER_ARCHIVE;
const expected = JSON.parse(readFileSync(process.env.BRACKWATER_EXPECTATIONS, "utf8"));
const missing = !CHROMIUM || !existsSync(CHROMIUM) ? "chromium is missing (apt-get install chromium)" : false;

const TYPES = { ".html": "text/html", ".mjs": "text/javascript", ".css": "text/css",
                ".wasm": "application/wasm" };
const ARCHIVES = { "/archive.dat": readFileSync(ARCHIVE), "/damaged.dat": new Uint8Array(0x144),
                   "/zeros.dat": new Uint8Array(400) };

const hex = (value, digits) => "0x" + (value >>> 0).toString(16).toUpperCase().padStart(digits, "0");
const ids = (html) => [...html.matchAll(/<tr data-id="(0x[0-9A-F]{8})"/g)].map((m) => m[1]);
const settled = `(() => { const s = document.getElementById("status");
  return s.textContent === "ready" || s.classList.contains("error"); })()`;

let server;
let browser;
let origin;

before(async () => {
  if (missing) return;
  server = createServer((request, response) => {
    const path = new URL(request.url, "http://localhost").pathname;
    let body = ARCHIVES[path];
    const file = join(SITE, normalize(path === "/" ? "/index.html" : path));
    if (!body) {
      if (!file.startsWith(SITE) || !existsSync(file)) {
        response.writeHead(404).end();
        return;
      }
      body = readFileSync(file);
    }
    response.writeHead(200, { "content-type": TYPES[extname(file)] ?? "application/octet-stream" });
    response.end(body);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await Chromium.launch(CHROMIUM);
});

after(async () => {
  await browser?.close();
  server?.close();
});

test("the page shows every file and the pinned resolutions of a sound table", { skip: missing }, async () => {
  const page = await browser.newPage({ width: 1400, height: 900 });
  await page.goto(`${origin}/?archive=/archive.dat&sound=0x20000001`);
  await page.waitFor(settled);
  const html = await page.html();
  assert.match(html, /<p id="status"[^>]*>ready<\/p>/);
  assert.match(html, /<p id="header-note" hidden="">/);
  assert.deepEqual(ids(html), expected.entries.map(([id]) => hex(id, 8)));
  const rows = new Map([...html.matchAll(/<tr data-kind="(0x[0-9A-F]{2,})" data-wave="(0x[0-9A-F]{8}|none)"/g)]
    .map((m) => [m[1], m[2]]));
  const native = expected.tables[String(0x20000001)];
  assert.equal(rows.size, Object.keys(native.sounds).length);
  // The native answers pin the resolutions of kinds 0 to 204.
  for (const [kind, wave] of Object.entries(native.resolutions)) {
    if (!(kind in native.sounds)) continue;
    assert.equal(rows.get(hex(Number(kind), 2)), wave === null ? "none" : hex(wave, 8), kind);
  }
  assert.equal(rows.get("0x58"), "0x0A000262");
  assert.equal(rows.get("0x5B"), "0x0A000274");
  assert.equal(rows.get("0x46"), "none");
  assert.equal(rows.has("0xFFFFFFFF"), false);
  // What is open, and both sizes of a compressed file.
  assert.match(html, /<p id="archive-name">\/archive.dat<\/p>/);
  const table = expected.entries.find(([id]) => id === 0x20000001);
  assert.match(html, new RegExp(`<p id="detail-size">stored ${table[3]} bytes, decompressed \\d+ bytes`));
  // Long values wrap: nothing in a section is wider than the section.
  assert.equal(await page.evaluate(`[...document.querySelectorAll("section")]
    .filter((s) => !s.hidden && s.scrollWidth > s.clientWidth).map((s) => s.id).join()`), "");

  // The page at the size the README shows it: a PNG's IHDR holds its width
  // and height.
  const png = await page.screenshot();
  assert.equal(png.subarray(1, 4).toString(), "PNG");
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [1400, 900]);
  writeFileSync(process.env.BRACKWATER_SCREENSHOT, png);
});

test("a damaged archive shows the error's display text", { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?archive=/damaged.dat`);
  await page.waitFor(settled);
  assert.match(await page.html(),
    /<p id="status" class="error">failed to fill whole buffer while parsing field 'block_size' in DatHeader<\/p>/);
});

test("a file that is no archive opens with a visible note of what is wrong", { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?archive=/zeros.dat`);
  await page.waitFor(settled);
  const html = await page.html();
  assert.match(html, /<p id="status"( class="")?>ready<\/p>/);
  assert.match(html, /<p id="header-note">This does not look like an archive: magic is 0x00000000, not 0x00005442; block size 0 is less than 8; file_size says 0 bytes, the archive has 400<\/p>/);
  assert.equal(await page.evaluate(`document.getElementById("header-note").getBoundingClientRect().height > 0`), true);
});

test("a person chooses an archive, filters by type, searches an id and opens a sound table",
     { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/`);
  await page.waitFor(`document.getElementById("status").textContent === "no archive open"`);
  await page.chooseFiles("#file", [ARCHIVE]);
  await page.waitFor(settled);
  assert.match(await page.evaluate(`document.getElementById("status").outerHTML`),
    /^<p id="status"( class="")?>ready<\/p>$/);
  assert.equal(ids(await page.html()).length, expected.entries.length);

  const filter = async (type, search) => {
    await page.evaluate(`(() => {
      const select = document.getElementById("type-filter");
      select.value = ${JSON.stringify(type)};
      select.dispatchEvent(new Event("change"));
      const input = document.getElementById("id-search");
      input.value = ${JSON.stringify(search)};
      input.dispatchEvent(new Event("input"));
    })()`);
    await page.waitFor("document.querySelectorAll('#file-table tbody tr').length === " +
      "Number(document.getElementById('shown').textContent.split(' ')[0])");
    return ids(await page.html());
  };
  const all = expected.entries.map(([id]) => hex(id, 8));
  const sounds = all.filter((id) => id.startsWith("0x20"));
  const containing = all.filter((id) => id.includes("0100011"));
  assert.ok(sounds.length > 1 && containing.length > 1);
  assert.deepEqual(await filter(String(0x20), ""), sounds);
  assert.deepEqual(await filter("", "0x0100011"), containing);
  assert.deepEqual(await filter(String(0x20), "0100011"), []);
  assert.deepEqual(await filter("", "20000001"), ["0x20000001"]);
  assert.deepEqual(await filter("", ""), all);
  assert.deepEqual(await filter("", "20000001"), ["0x20000001"]);

  // A real click on the row, where it is on the screen.
  const { x, y } = await page.evaluate(`(() => {
    const row = document.querySelector('tr[data-id="0x20000001"]');
    row.scrollIntoView();
    const box = row.getBoundingClientRect();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  })()`);
  for (const type of ["mousePressed", "mouseReleased"]) {
    await page.send("Input.dispatchMouseEvent", { type, x, y, button: "left", clickCount: 1 });
  }
  await page.waitFor(`!document.getElementById("sound").hidden`);
  const html = await page.html();
  assert.match(html, /<h2 id="detail-title">File 0x20000001<\/h2>/);
  assert.match(html, /<tr data-id="0x20000001" class="selected">/);
  assert.match(html, /<tr data-kind="0x58" data-wave="0x0A000262">/);
});
