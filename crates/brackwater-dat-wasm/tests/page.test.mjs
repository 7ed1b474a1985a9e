// The explorer page in a real browser: headless Chromium loads it from a
// loopback server that serves ranges (and, on one path, refuses to) and
// counts what it sends; archives are opened by ?archive= or by choosing a
// file as a person would, and the DOM contract is checked on what renders.
import assert from "node:assert/strict";
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { pathToFileURL } from "node:url";
import { after, before, test } from "node:test";
import { Chromium } from "./chromium.mjs";
import { serveSite } from "./site_server.mjs";

const SITE = process.env.BRACKWATER_JS_DIR;
const CHROMIUM = process.env.CHROMIUM;
const ARCHIVE = process.env.BRACKWATER_ARCHIVE;
const LARGE = process.env.BRACKWATER_LARGE_ARCHIVE;
const expected = JSON.parse(readFileSync(process.env.BRACKWATER_EXPECTATIONS, "utf8"));
const missing = !CHROMIUM || !existsSync(CHROMIUM) ? "chromium is missing (apt-get install chromium)" : false;
const noLarge = !LARGE || !existsSync(LARGE) ? "the 100,000-file archive is missing" : false;

const DAMAGED = new Uint8Array(0x144);

const hex = (value, digits) => "0x" + (value >>> 0).toString(16).toUpperCase().padStart(digits, "0");
const ids = (html) => [...html.matchAll(/<tr data-id="(0x[0-9A-F]{8})"/g)].map((m) => m[1]);
const settled = `(() => { const s = document.getElementById("status");
  return s.textContent === "ready" || s.classList.contains("error"); })()`;
const complete = `document.getElementById("file-table").dataset.state === "complete"`;

let site;
let browser;
let origin;
let sent;

before(async () => {
  if (missing) return;
  site = await serveSite(SITE, { "/archive.dat": ARCHIVE, "/large.dat": LARGE, "/damaged.dat": DAMAGED,
                                 "/nested/portal.dat": ARCHIVE });
  ({ origin, sent } = site);
  browser = await Chromium.launch(CHROMIUM);
});

after(async () => {
  await browser?.close();
  site?.close();
});

// The sound rows of the page's table, kind to wave.
const soundRows = (html) =>
  new Map([...html.matchAll(/<tr data-kind="(0x[0-9A-F]{2,})" data-wave="(0x[0-9A-F]{8}|none)"/g)]
    .map((m) => [m[1], m[2]]));

function checkPinnedSoundTable(html) {
  const rows = soundRows(html);
  const native = expected.tables[String(0x20000001)];
  assert.equal(rows.size, Object.keys(native.sounds).length);
  for (const [kind, wave] of Object.entries(native.resolutions)) {
    if (!(kind in native.sounds)) continue;
    assert.equal(rows.get(hex(Number(kind), 2)), wave === null ? "none" : hex(wave, 8), kind);
  }
  assert.equal(rows.get("0x58"), "0x0A000262");
  assert.equal(rows.get("0x46"), "none");
}

// The rows in the document are those in view: consecutive ids of the listing
// from where it is scrolled to, not all of them.
async function checkRowsInView(page, all) {
  const shown = ids(await page.html());
  assert.ok(shown.length > 0 && shown.length < Math.max(all.length, 200), `${shown.length} rows`);
  const at = all.indexOf(shown[0]);
  assert.deepEqual(shown, all.slice(at, at + shown.length));
  return at;
}

test("the header and a sound table show first, then the listing, only its rows in view", { skip: missing }, async () => {
  const page = await browser.newPage({ width: 1400, height: 900 });
  await page.goto(`${origin}/?archive=/archive.dat&sound=0x20000001`);
  await page.waitFor(settled);
  const ready = await page.html();
  assert.match(ready, /<p id="status"[^>]*>ready<\/p>/);
  checkPinnedSoundTable(ready);
  assert.match(ready, /<p id="archive-name">\/archive.dat<\/p>/);
  const table = expected.entries.find(([id]) => id === 0x20000001);
  assert.match(ready, new RegExp(`<p id="detail-size">stored ${table[3]} bytes, decompressed \\d+ bytes`));
  // Floats as the tool writes them: the shortest text of the 32-bit value.
  assert.match(ready, /0x0A000262 1 0\.25 0\.75/);

  await page.waitFor(complete);
  const all = expected.entries.map(([id]) => hex(id, 8));
  assert.equal(await page.evaluate(`document.getElementById("file-table").dataset.total`), String(all.length));
  assert.equal(await checkRowsInView(page, all), 0);
  await page.evaluate(`document.getElementById("file-scroller").scrollTop = 1e9`);
  await page.waitFor(`document.querySelector('tr[data-id="${all.at(-1)}"]') !== null`);
  await checkRowsInView(page, all);
  // Long values wrap: nothing in a section is wider than the section.
  assert.equal(await page.evaluate(`[...document.querySelectorAll("section")]
    .filter((s) => !s.hidden && s.scrollWidth > s.clientWidth).map((s) => s.id).join()`), "");

  await page.evaluate(`document.getElementById("file-scroller").scrollTop = 0`);
  const png = await page.screenshot();
  assert.equal(png.subarray(1, 4).toString(), "PNG");
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [1400, 900]);
  writeFileSync(process.env.BRACKWATER_SCREENSHOT, png);
});

// The archive with its root's first two entries swapped: no longer a search
// tree, so a lookup on demand refuses it, while a whole read does not mind.
function unsorted() {
  const bytes = new Uint8Array(readFileSync(ARCHIVE));
  const entries = new DataView(bytes.buffer).getUint32(0x160, true) + 4 + 252;
  const first = bytes.slice(entries, entries + 24);
  bytes.copyWithin(entries, entries + 24, entries + 48);
  bytes.set(first, entries + 24);
  return bytes;
}

test("on a far server, a directory that is not a search tree is read whole, and the table's waves list their sizes",
     { skip: missing }, async () => {
  const path = join(mkdtempSync(join(tmpdir(), "unsorted-")), "unsorted.dat");
  writeFileSync(path, unsorted());
  const far = await serveSite(SITE, { "/unsorted.dat": path }, { delayMs: 40 });
  try {
    const page = await browser.newPage({ width: 1400, height: 900 });
    await page.goto(`${far.origin}/?archive=/unsorted.dat&sound=0x20000001`);
    await page.waitFor(settled);
    const ready = await page.html();
    assert.match(ready, /<p id="status"[^>]*>ready<\/p>/);
    assert.match(ready, /<p id="archive-name">\/unsorted.dat \(the directory is not a search tree \(corrupt archive: directory node at 0x[0-9A-F]{8}: ids do not ascend: [^)]*\): read whole\)<\/p>/);
    checkPinnedSoundTable(ready);
    await page.waitFor(`document.getElementById("wave-table").dataset.state === "complete"`);
    const { load } = await import(pathToFileURL(`${SITE}/brackwater_dat.mjs`));
    const native = (await load()).openArchive(new Uint8Array(readFileSync(ARCHIVE)));
    const waves = [...(await page.html()).matchAll(/<tr data-wave="(0x[0-9A-F]{8})" data-size="(\d+|none)"/g)];
    const named = Object.values(expected.tables[String(0x20000001)].sounds).flatMap((sound) => sound.entries.map(([wave]) => wave));
    assert.equal(waves.length, new Set(named).size);
    for (const [, wave, size] of waves) {
      assert.equal(size, native.has(Number(wave)) ? String(native.getFile(Number(wave)).length) : "none", wave);
    }
  } finally {
    far.close();
    rmSync(dirname(path), { recursive: true });
  }
});

test("a damaged archive shows the error's display text", { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?archive=/damaged.dat`);
  await page.waitFor(settled);
  assert.match(await page.html(),
    /<p id="status" class="error">failed to fill whole buffer at offset 0x00000144, past the end of the archive's 324 bytes while parsing field 'block_size' in DatHeader<\/p>/);
});

test("a sound id the archive does not hold is the page's error; of two files asked for at once, the later renders",
     { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/?archive=/archive.dat&sound=0x2000FFFF`);
  await page.waitFor(complete);
  assert.equal(await page.evaluate(`document.getElementById("status").outerHTML`),
               `<p id="status" class="error">sound=0x2000FFFF: no file 0x2000FFFF in the archive</p>`);
  // A sound table, then a wave in the same turn: the table's answers come first.
  const [wave] = expected.entries.find(([id, flags]) => id >>> 24 === 0x0A && (flags & 1) === 0);
  await page.evaluate(`for (const id of ["0x20000001", "${hex(wave, 8)}"]) {
    const row = document.querySelector("#file-table tbody").insertRow();
    row.dataset.id = id;
    row.click();
  }`);
  const size = expected.files[String(wave)].length / 2;
  await page.waitFor(`document.getElementById("detail-size").textContent.startsWith("${size} bytes")`);
  assert.equal(await page.evaluate(`document.getElementById("sound").hidden`), true);
});

test("openInWorker reads a relative URL as the page's; a missing archive is a DatError naming the request; a closed archive refuses calls",
     { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/`);
  assert.deepEqual(await page.evaluate(`(async () => {
    history.replaceState(null, "", "/nested/page");
    const { DatError, openInWorker } = await import("/brackwater_dat.mjs");
    const remote = await openInWorker("portal.dat");
    const size = await remote.size();
    await remote.close();
    const failure = (error) => [error instanceof DatError, error.message];
    return [remote.header.rootOffset, size,
            await openInWorker("missing.dat").catch(failure),
            (await remote.close()) === undefined,  // settles, as the first did
            await remote.getFile(0x20000001).catch(failure)];
  })()`), [expected.header.root_offset, expected.entries.length, [true, `${origin}/nested/missing.dat (bytes 0-4095): 404 Not Found`],
           true, [true, "the archive is closed"]]);
});

test("on a page's main thread, openArchiveAsync reads a URL through fetchSource, files asked for together in one go",
     { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/`);
  const waves = expected.entries.filter(([id]) => id >>> 24 === 0x0A).slice(0, 40).map(([id]) => id);
  site.reset();
  const lengths = await page.evaluate(`(async () => {
    const { load } = await import("/brackwater_dat.mjs");
    const bw = await load();
    const archive = await bw.openArchiveAsync(bw.fetchSource("/archive.dat"), { onDemand: true });
    const files = await archive.getFiles(${JSON.stringify(waves)});
    await archive.close();
    return files.map((file) => file.length);
  })()`);
  const { load } = await import(pathToFileURL(`${SITE}/brackwater_dat.mjs`));
  const native = (await load()).openArchive(new Uint8Array(readFileSync(ARCHIVE)));
  assert.deepEqual(lengths, waves.map((id) => native.getFile(id).length));
  // The header, the three levels to the leaves and the files: a few merged requests, not one a file.
  assert.ok(sent.requests < 15, `${sent.requests} requests`);
});

test("an archive served without ranges is read whole, once, and the page says so", { skip: missing }, async () => {
  const page = await browser.newPage();
  site.reset();
  await page.goto(`${origin}/?archive=/no-ranges/archive.dat&sound=0x20000001`);
  await page.waitFor(complete);
  const html = await page.html();
  checkPinnedSoundTable(html);
  assert.match(html, /<p id="archive-name">\/no-ranges\/archive.dat \(the server sent the whole archive/);
  assert.equal(sent.requests, 1);
});

// Sets the type filter and the id search as a person would, and waits for the rows.
async function filter(page, type, search) {
  await page.evaluate(`(() => {
    const select = document.getElementById("type-filter");
    select.value = ${JSON.stringify(type)};
    select.dispatchEvent(new Event("change"));
    const input = document.getElementById("id-search");
    input.value = ${JSON.stringify(search)};
    input.dispatchEvent(new Event("input"));
  })()`);
  return ids(await page.html());
}

async function clickRow(page, id) {
  const { x, y } = await page.evaluate(`(() => {
    const box = document.querySelector('tr[data-id="${id}"]').getBoundingClientRect();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  })()`);
  for (const type of ["mousePressed", "mouseReleased"]) {
    await page.send("Input.dispatchMouseEvent", { type, x, y, button: "left", clickCount: 1 });
  }
}

test("a person chooses an archive, filters by type, searches an id and opens a sound table",
     { skip: missing }, async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/`);
  await page.waitFor(`document.getElementById("status").textContent === "no archive open"`);
  await page.chooseFiles("#file", [ARCHIVE]);
  await page.waitFor(complete);
  assert.match(await page.evaluate(`document.getElementById("status").outerHTML`),
    /^<p id="status"( class="")?>ready<\/p>$/);

  const all = expected.entries.map(([id]) => hex(id, 8));
  const sounds = all.filter((id) => id.startsWith("0x20"));
  const containing = all.filter((id) => id.includes("0100011"));
  assert.ok(sounds.length > 1 && containing.length > 1);
  const soundRowsShown = await filter(page, String(0x20), "");
  assert.deepEqual(soundRowsShown, sounds.slice(0, soundRowsShown.length));
  assert.equal(await page.evaluate(`document.getElementById("file-table").dataset.shown`), String(sounds.length));
  assert.deepEqual(await filter(page, "", "0x0100011"), containing);
  assert.deepEqual(await filter(page, String(0x20), "0100011"), []);
  assert.deepEqual(await filter(page, "", "20000001"), ["0x20000001"]);

  await clickRow(page, "0x20000001");
  await page.waitFor(`!document.getElementById("sound").hidden`);
  const html = await page.html();
  assert.match(html, /<h2 id="detail-title">File 0x20000001<\/h2>/);
  assert.match(html, /<tr data-id="0x20000001" class="selected">/);
  assert.match(html, /<tr data-kind="0x58" data-wave="0x0A000262">/);
});

// The large archive's listing, from the module itself in node (itself
// checked against the native reader), as the page should show it.
async function largeListing() {
  const { load } = await import(pathToFileURL(`${SITE}/brackwater_dat.mjs`));
  const bw = await load();
  const source = bw.fileSource(LARGE);
  const archive = bw.openArchive(source);
  const listing = archive.entries();
  archive.close();
  source.close();
  return listing;
}

test("a sound table of an archive of hundreds of megabytes shows after a few small range requests",
     { skip: missing || noLarge }, async () => {
  const page = await browser.newPage({ width: 1400, height: 900 });
  site.reset();
  await page.goto(`${origin}/?archive=/large.dat&sound=0x20000001`);
  await page.waitFor(settled);
  // The page reads on after it is ready: what it asked for until then.
  const beforeReady = site.sentBefore(await page.evaluate(
    `performance.timeOrigin + performance.getEntriesByName("status").find((mark) => mark.detail === "ready").startTime`));
  checkPinnedSoundTable(await page.html());
  assert.ok(beforeReady.requests <= 16, `${beforeReady.requests} requests before ready`);
  assert.ok(beforeReady.bytes <= 2 << 20, `${beforeReady.bytes} bytes before ready`);
  await page.waitFor(complete);
  const listing = await largeListing();
  assert.equal(await page.evaluate(`document.getElementById("file-table").dataset.total`),
               String(listing.length));
  console.log(`# ${statSync(LARGE).size} byte archive: before ready ${beforeReady.requests} requests, ` +
              `${beforeReady.bytes} bytes; with the whole listing ${sent.requests} requests, ${sent.bytes} bytes`);
});

test("a person chooses an archive of 100,000 files, filters, searches and opens a file",
     { skip: missing || noLarge }, async () => {
  const page = await browser.newPage({ width: 1400, height: 900 });
  await page.goto(`${origin}/`);
  await page.waitFor(`document.getElementById("status").textContent === "no archive open"`);
  await page.chooseFiles("#file", [LARGE]);
  await page.waitFor(complete);
  const listing = await largeListing();
  const all = listing.map((e) => hex(e.id, 8));
  assert.equal(await page.evaluate(`document.getElementById("file-table").dataset.total`), String(all.length));
  assert.equal(await checkRowsInView(page, all), 0);

  const waves = listing.filter((e) => e.type === 0x0A);
  assert.equal((await filter(page, String(0x0A), ""))[0], hex(waves[0].id, 8));
  assert.equal(await page.evaluate(`document.getElementById("file-table").dataset.shown`), String(waves.length));
  // An exact id deep in the listing comes into view.
  const deep = hex(waves[Math.floor(waves.length * 0.8)].id, 8);
  assert.deepEqual(await filter(page, "", deep.slice(2)), [deep]);
  await clickRow(page, deep);
  await page.waitFor(`document.getElementById("detail-title").textContent === "File ${deep}"`);
  await page.waitFor(`/bytes/.test(document.getElementById("detail-size").textContent)`);
});

// The README's way to serve the page: web/serve.py answers ranges, so the
// page reads the table without the whole archive.
test("the page served by web/serve.py, as the README serves it, reads by ranges", { skip: missing }, async () => {
  const { spawn } = await import("node:child_process");
  const served = spawn("python3", [process.env.BRACKWATER_SERVE_PY, SITE, "--port", "0"]);
  try {
    const address = await new Promise((resolve, reject) => {
      served.stdout.on("data", (line) => resolve(/http:\/\/[0-9.:]+/.exec(String(line))?.[0]));
      served.on("exit", (code) => reject(new Error(`serve.py exited with ${code}`)));
    });
    const range = await fetch(`${address}/examples/client_portal.dat`, { headers: { range: "bytes=320-399" } });
    assert.equal(range.status, 206);
    assert.equal((await range.arrayBuffer()).byteLength, 80);
    const page = await browser.newPage({ width: 1200, height: 800 });
    await page.goto(`${address}/?archive=examples/client_portal.dat&sound=0x20000001`);
    await page.waitFor(settled);
    const html = await page.html();
    assert.match(html, /<p id="status"[^>]*>ready<\/p>/);
    assert.doesNotMatch(html, /whole archive/);
    checkPinnedSoundTable(html);
  } finally {
    served.kill();
  }
});
