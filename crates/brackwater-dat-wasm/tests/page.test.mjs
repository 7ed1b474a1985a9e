// The explorer page in a real browser: headless Chromium loads it from a
// loopback server with ?archive= naming the synthetic archive, and the DOM
// contract is checked on what it renders.
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { extname, join, normalize } from "node:path";
import { test } from "node:test";
import { promisify } from "node:util";

const SITE = process.env.BRACKWATER_JS_DIR;
const CHROMIUM = process.env.CHROMIUM;
const expected = JSON.parse(readFileSync(process.env.BRACKWATER_EXPECTATIONS, "utf8"));
const missing = !CHROMIUM || !existsSync(CHROMIUM) ? "chromium is missing (apt-get install chromium)" : false;

const TYPES = { ".html": "text/html", ".mjs": "text/javascript", ".css": "text/css",
                ".wasm": "application/wasm" };
const ARCHIVES = { "/archive.dat": readFileSync(process.env.BRACKWATER_ARCHIVE),
                   "/damaged.dat": new Uint8Array(0x144) };

// Serves the built site and the test archives on a loopback port.
async function serve() {
  const server = createServer((request, response) => {
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
  return server;
}

// Chromium's rendering of `url` once its scripts have settled, or a
// screenshot of it. Run without blocking, so this process keeps serving.
async function chromium(url, extra) {
  const profile = mkdtempSync(join(tmpdir(), "explorer-chromium-"));
  try {
    const { stdout } = await promisify(execFile)(CHROMIUM, [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      `--user-data-dir=${profile}`, "--virtual-time-budget=30000", ...extra, url,
    ], { encoding: "utf8", timeout: 120000, maxBuffer: 64 << 20 });
    return stdout;
  } finally {
    rmSync(profile, { recursive: true, force: true });
  }
}

const hex = (value, digits) => "0x" + (value >>> 0).toString(16).toUpperCase().padStart(digits, "0");

test("the page shows every file and the pinned resolutions of a sound table", { skip: missing }, async () => {
  const server = await serve();
  try {
    const url = `http://127.0.0.1:${server.address().port}/?archive=/archive.dat&sound=0x20000001`;
    const dom = await chromium(url, ["--dump-dom"]);
    assert.match(dom, /<p id="status"[^>]*>ready<\/p>/);
    const ids = [...dom.matchAll(/<tr data-id="(0x[0-9A-F]{8})"/g)].map((m) => m[1]);
    assert.deepEqual(ids, expected.entries.map(([id]) => hex(id, 8)));
    const rows = new Map([...dom.matchAll(/<tr data-kind="(0x[0-9A-F]{2,})" data-wave="(0x[0-9A-F]{8}|none)"/g)]
      .map((m) => [m[1], m[2]]));
    const native = expected.tables[String(0x20000001)];
    assert.equal(rows.size, Object.keys(native.sounds).length);
    for (const kind of Object.keys(native.sounds)) {
      const wave = native.resolutions[kind];
      if (Number(kind) > 204) continue;
      assert.equal(rows.get(hex(Number(kind), 2)), wave === null ? "none" : hex(wave, 8), kind);
    }
    assert.equal(rows.get("0x58"), "0x0A000262");
    assert.equal(rows.get("0x5B"), "0x0A000274");
    assert.equal(rows.get("0x46"), "none");
    assert.equal(rows.has("0xFFFFFFFF"), false);

    const screenshot = process.env.BRACKWATER_SCREENSHOT;
    await chromium(url, ["--window-size=1400,900", `--screenshot=${screenshot}`]);
    assert.ok(readFileSync(screenshot).subarray(1, 4).toString() === "PNG");
  } finally {
    server.close();
  }
});

test("a damaged archive shows the error's display text", { skip: missing }, async () => {
  const server = await serve();
  try {
    const dom = await chromium(`http://127.0.0.1:${server.address().port}/?archive=/damaged.dat`, ["--dump-dom"]);
    assert.match(dom, /<p id="status" class="error">failed to fill whole buffer while parsing field 'block_size' in DatHeader<\/p>/);
  } finally {
    server.close();
  }
});
