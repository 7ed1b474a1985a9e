// The explorer page at full size, in headless Chromium: what a sound table of
// the 100,000-file archive costs over HTTP before the page is ready (and with
// its whole listing), and how long the page takes to list that archive when
// a person chooses it, with the longest time its main thread was busy at a
// stretch. Medians of 5; prints JSON for bench/report.py.
//
//   node bench/page_bench.mjs JS_DIR ARCHIVE CHROMIUM OUT.json
import { writeFileSync } from "node:fs";
import { resolve } from "node:path";
import { Chromium } from "../crates/brackwater-dat-wasm/tests/chromium.mjs";
import { serveSite } from "../crates/brackwater-dat-wasm/tests/site_server.mjs";

const [site, archive, chromium, out] = process.argv.slice(2).map((arg, i) => (i < 2 ? resolve(arg) : arg));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ready = `document.getElementById("status").textContent === "ready"`;
const complete = `document.getElementById("file-table").dataset.state === "complete"`;
// Watches the main thread from the start: the longest gap between timer
// ticks 10 ms apart, less the 10 ms, is the longest stretch it was busy.
const watch = `(() => {
  window.longestStall = 0;
  let last = performance.now();
  setInterval(() => {
    const now = performance.now();
    window.longestStall = Math.max(window.longestStall, now - last - 10);
    last = now;
  }, 10);
})()`;

const server = await serveSite(site, { "/large.dat": archive });
const browser = await Chromium.launch(chromium);
const results = { beforeReady: [], listing: [], complete: [], stall: [] };
try {
  for (let round = 0; round < 5; ++round) {
    const page = await browser.newPage({ width: 1400, height: 900 });
    server.reset();
    await page.goto(`${server.origin}/?archive=/large.dat&sound=0x20000001`);
    await page.waitFor(ready);
    results.beforeReady.push(server.sentBefore(await page.evaluate(
      `performance.timeOrigin + performance.getEntriesByName("status").find((mark) => mark.detail === "ready").startTime`)));
    await page.waitFor(complete);
    results.listing.push({ ...server.sent });

    const chooser = await browser.newPage({ width: 1400, height: 900 });
    await chooser.goto(`${server.origin}/`);
    await chooser.waitFor(`document.getElementById("status").textContent === "no archive open"`);
    await chooser.evaluate(watch);
    const start = Date.now();
    await chooser.chooseFiles("#file", [archive]);
    await chooser.waitFor(complete, { pollMs: 5 });
    results.complete.push(Date.now() - start);
    results.stall.push(await chooser.evaluate("window.longestStall"));
  }
} finally {
  await browser.close();
  server.close();
}
writeFileSync(out, JSON.stringify({
  requests_before_ready: median(results.beforeReady.map((r) => r.requests)),
  bytes_before_ready: median(results.beforeReady.map((r) => r.bytes)),
  requests_listing: median(results.listing.map((r) => r.requests)),
  bytes_listing: median(results.listing.map((r) => r.bytes)),
  complete_ms: median(results.complete),
  longest_stall_ms: median(results.stall),
  runs: results,
}));
