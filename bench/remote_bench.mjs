// Remote reads of a 20,000-file archive (one chain in five scattered, a
// directory three levels deep, its nodes after the files) from a loopback
// server that waits 40 ms before each answer, as a far host would: wall time,
// round trips (time / 40 ms), the requests and bytes the server sent, and
// the floor for each. Medians of 5, each from a fresh open. Prints a table,
// and JSON for bench/report.py.
//
//   A  200 files at once (getFiles), node, fetchSource with 32 requests in
//      flight, on demand; timed from after the open
//   B  the same 200 in Chromium through openInWorker(url), the directory
//      read whole; timed from after the open
//   B0 the same in Chromium through openInWorker(url, { onDemand: true }),
//      Promise.all of getFile: what a page could do before getFiles
//   C  60 of them one after another from a fresh open on demand, the open
//      counted: round trips a file (node; and in Chromium's worker as C0)
//   D  the open on demand and the first file
//   E  A's bytes against those of the blocks its lookups need
//   and A, C, D through a Blob (fs.openAsBlob) of the same files with every
//   chain contiguous, no server: the engine's reads of the Blob counted.
//
// Rows whose API the module lacks (openArchiveAsync, a worker's getFiles)
// are left out, or say what they used instead, so that the same harness
// gives the figures before and after.
//
//   node bench/remote_bench.mjs JS_DIR ARCHIVE CHROMIUM OUT.json [CONTIGUOUS_ARCHIVE]
import { openAsBlob, readFileSync, writeFileSync } from "node:fs";
import { resolve } from "node:path";
import { pathToFileURL } from "node:url";
import { Chromium } from "../crates/brackwater-dat-wasm/tests/chromium.mjs";
import { serveSite } from "../crates/brackwater-dat-wasm/tests/site_server.mjs";

const [jsDir, archivePath, chromium, out, contiguousPath = archivePath] =
  process.argv.slice(2).map((arg, i) => (i < 2 || i === 4 ? resolve(arg) : arg));
const ROUND_TRIP_MS = 40;
const RUNS = 5;
const AT_ONCE = 200;
const ONE_BY_ONE = 60;
const NODE_CONCURRENCY = 32;
const BROWSER_CONNECTIONS = 6;  // Chromium's per host over HTTP/1.1

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// The archive as the floors need it: every entry with the directory nodes
// on its path and its chain's blocks, read here from the file.
function layout(path) {
  const image = readFileSync(path);
  const u32 = (at) => image.readUInt32LE(at);
  const blockSize = u32(0x144);
  const payload = blockSize - 4;
  const chain = (first, bytes) => {
    const blocks = [];
    for (let at = first, left = bytes; at !== 0 && left > 0; at = u32(at), left -= payload) blocks.push(at);
    return blocks;
  };
  const NODE = 1716;
  const nodeBlocks = new Map();
  const entries = [];
  const leafDepths = new Set();
  const walk = (offset, path) => {
    const blocks = chain(offset, NODE);
    nodeBlocks.set(offset, blocks);
    const node = Buffer.concat(blocks.map((b) => image.subarray(b + 4, b + blockSize))).subarray(0, NODE);
    const count = node.readUInt32LE(248);
    const here = [...path, offset];
    const leaf = node.readUInt32LE(0) === 0;
    if (leaf) leafDepths.add(here.length);
    for (let i = 0; i < count; ++i) {
      const at = 252 + 24 * i;
      const [flags, id, first, size] = [0, 4, 8, 12].map((k) => node.readUInt32LE(at + k));
      entries.push({ id, flags, first, size, path: here, blocks: chain(first, size) });
    }
    if (!leaf) for (let i = 0; i <= count; ++i) walk(node.readUInt32LE(4 * i), here);
  };
  walk(u32(0x160), []);
  if (leafDepths.size !== 1) throw new Error(`leaves at depths ${[...leafDepths]}: not a balanced tree`);
  entries.sort((a, b) => a.id - b.id);
  return { blockSize, levels: [...leafDepths][0], entries, nodeBlocks };
}

// A fixed choice of `count` entries, the same every run (mulberry32).
function choose(entries, count, seed) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6D2B79F5) >>> 0;
    let t = Math.imul(state ^ (state >>> 15), 1 | state);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 2 ** 32;
  };
  const order = entries.map((_, i) => i);
  for (let i = 0; i < count; ++i) {
    const j = i + Math.floor(next() * (order.length - i));
    [order[i], order[j]] = [order[j], order[i]];
  }
  return order.slice(0, count).map((i) => entries[i]);
}

// Distinct blocks, and how many requests they take at least: runs of
// blocks one after another merge into one.
function requestsFor(blocks, blockSize) {
  const sorted = [...new Set(blocks)].sort((a, b) => a - b);
  const runs = sorted.filter((b, i) => i === 0 || sorted[i - 1] + blockSize !== b).length;
  return { blocks: sorted.length, runs };
}

function floors({ blockSize, levels, nodeBlocks }, chosen) {
  const chains = requestsFor(chosen.flatMap((e) => e.blocks), blockSize);
  const nodes = [...new Set(chosen.flatMap((e) => e.path))];
  const nodeRuns = requestsFor(nodes.flatMap((n) => nodeBlocks.get(n)), blockSize);
  // One by one, reading only the blocks needed, each node once: the open is
  // the header, then the root; a file is the nodes on its path not read
  // yet, one after another, then its chain (taken as one request, though a
  // scattered chain's blocks are learned one at a time). A reader that
  // keeps what it read beyond that (the nodes beside those it needed) can
  // go lower, to the open and a round trip a file.
  const seen = new Set([chosen[0].path[0]]);
  let oneByOne = 2;
  for (const entry of chosen.slice(0, ONE_BY_ONE)) {
    oneByOne += entry.path.filter((n) => !seen.has(n)).length + 1;
    entry.path.forEach((n) => seen.add(n));
  }
  return {
    chain_requests: chains.runs,
    node_requests: nodeRuns.runs,
    // The lookups descend the levels together, then the chains go out 32 at a time.
    at_once_rt: levels + 1 + Math.ceil(chains.runs / NODE_CONCURRENCY) - 1,
    // The directory in memory: only the chains, 6 at a time.
    browser_rt: Math.ceil(chains.runs / BROWSER_CONNECTIONS),
    one_by_one_rt_per_file: oneByOne / ONE_BY_ONE,
    one_by_one_least_rt_per_file: (1 + ONE_BY_ONE) / ONE_BY_ONE,
    first_file_rt: 2 + chosen[0].path.length - 1 + 1,
    // Each block of the nodes (the root too) and chains once.
    at_once_bytes: (chains.blocks + nodeRuns.blocks) * blockSize,
  };
}

// Server counters since the last reset.
const counted = (server) => ({ requests: server.sent.requests, bytes: server.sent.bytes,
                               most_in_flight: server.sent.mostInFlight });

function summary(runs, floorRt, extra = {}) {
  const wall = median(runs.map((r) => r.ms));
  const row = { wall_ms: wall, round_trips: wall / ROUND_TRIP_MS, floor_rt: floorRt,
                requests: median(runs.map((r) => r.requests)), bytes: median(runs.map((r) => r.bytes)),
                most_in_flight: median(runs.map((r) => r.most_in_flight)), ...extra, runs };
  return row;
}

// The files must be the archive's: checked against the synchronous reader
// over the local file, on the first run of each row.
function check(bw, local, ids, files) {
  if (files.length !== ids.length) throw new Error(`${files.length} files for ${ids.length} ids`);
  ids.forEach((id, i) => {
    const want = local.getFile(id);
    const got = files[i];
    if (!(got instanceof Uint8Array) || got.length !== want.length || Buffer.compare(got, want) !== 0) {
      throw new Error(`file 0x${id.toString(16)} read wrong`);
    }
  });
}

const archive = layout(archivePath);
const chosen = choose(archive.entries, AT_ONCE, 0x20000);
const ids = chosen.map((e) => e.id);
const first = ids.slice(0, ONE_BY_ONE);
const floor = floors(archive, chosen);

const { load } = await import(pathToFileURL(`${jsDir}/brackwater_dat.mjs`));
const bw = await load();
const local = bw.openArchive(new Uint8Array(readFileSync(archivePath)));
const asyncApi = typeof bw.openArchiveAsync === "function";
const server = await serveSite(jsDir, { "/remote.dat": archivePath }, { delayMs: ROUND_TRIP_MS });
const url = `${server.origin}/remote.dat`;
const rows = {};

// Each of `RUNS` runs opens afresh; `run(round)` returns its figures.
async function repeat(run) {
  const runs = [];
  for (let round = 0; round < RUNS; ++round) runs.push(await run(round));
  return runs;
}

async function overNode(open) {
  rows.A = summary(await repeat(async (round) => {
    server.reset();
    const remote = await open();
    const opening = counted(server);
    server.reset();
    const start = performance.now();
    const files = await remote.getFiles(ids);
    const ms = performance.now() - start;
    const sent = counted(server);
    if (round === 0) check(bw, local, ids, files);
    await remote.close();
    return { ms, ...sent, open_requests: opening.requests, open_bytes: opening.bytes };
  }), floor.at_once_rt);
  rows.C = summary(await repeat(async (round) => {
    server.reset();
    const start = performance.now();
    const remote = await open();
    const files = [];
    for (const id of first) files.push(await remote.getFile(id));
    const ms = performance.now() - start;
    if (round === 0) check(bw, local, first, files);
    await remote.close();
    return { ms, ...counted(server) };
  }), floor.one_by_one_rt_per_file * ONE_BY_ONE);
  rows.D = summary(await repeat(async () => {
    server.reset();
    const start = performance.now();
    const remote = await open();
    await remote.getFile(ids[0]);
    const ms = performance.now() - start;
    await remote.close();
    return { ms, ...counted(server) };
  }), floor.first_file_rt);
  const a = rows.A;
  rows.E = { bytes: median(a.runs.map((r) => r.bytes + r.open_bytes)), floor_bytes: floor.at_once_bytes };
}

// A, C and D again from a Blob of a local archive: what the engine costs
// with no network at all, and the reads of the Blob it makes.
async function overBlob() {
  const blob = await openAsBlob(contiguousPath);
  const reads = { requests: 0, bytes: 0 };
  const counted = {
    length: blob.size,
    async read(offset, length) {
      reads.requests += 1;
      reads.bytes += length;
      return new Uint8Array(await blob.slice(offset, offset + length).arrayBuffer());
    },
  };
  const open = () => bw.openArchiveAsync(counted, { onDemand: true });
  const time = async (work) => {
    Object.assign(reads, { requests: 0, bytes: 0 });
    const start = performance.now();
    await work();
    return { ms: performance.now() - start, ...reads };
  };
  const ms = (runs) => ({ wall_ms: median(runs.map((r) => r.ms)), requests: median(runs.map((r) => r.requests)),
                          bytes: median(runs.map((r) => r.bytes)) });
  rows.A_blob = ms(await repeat(async () => {
    const remote = await open();
    const run = await time(() => remote.getFiles(ids));
    await remote.close();
    return run;
  }));
  rows.C_blob = ms(await repeat(() => time(async () => {
    const remote = await open();
    for (const id of first) await remote.getFile(id);
    await remote.close();
  })));
  rows.D_blob = ms(await repeat(() => time(async () => {
    const remote = await open();
    await remote.getFile(ids[0]);
    await remote.close();
  })));
}

// In a page of the same origin, through the worker; times taken in the page.
async function inChromium() {
  const browser = await Chromium.launch(chromium);
  try {
    const page = await browser.newPage();
    await page.goto(`${server.origin}/`);
    await page.waitFor(`document.getElementById("status").textContent === "no archive open"`);
    await page.evaluate(`(async () => {
      window.bw = await import("/brackwater_dat.mjs");
      window.ids = ${JSON.stringify(ids)};
      window.first = ${JSON.stringify(first)};
      window.lengths = (files) => files.map((file) => file.length);
    })()`);
    const want = (list) => list.map((id) => local.getFile(id).length);
    const same = (got, list, what) => {
      if (JSON.stringify(got) !== JSON.stringify(want(list))) throw new Error(`${what}: files read wrong`);
    };
    const atOnce = async (onDemand) => summary(await repeat(async (round) => {
      await page.evaluate(`(async () => {
        window.remote = await bw.openInWorker("/remote.dat", { onDemand: ${onDemand} });
      })()`);
      server.reset();
      const { ms, got, api } = await page.evaluate(`(async () => {
        const start = performance.now();
        const api = typeof remote.getFiles === "function" && ${!onDemand} ? "getFiles" : "Promise.all of getFile";
        const files = api === "getFiles" ? await remote.getFiles(ids)
                                         : await Promise.all(ids.map((id) => remote.getFile(id)));
        return { ms: performance.now() - start, got: lengths(files), api };
      })()`);
      const sent = counted(server);
      if (round === 0) same(got, ids, "B");
      await page.evaluate(`remote.close()`);
      return { ms, ...sent, api };
    }), floor.browser_rt);
    rows.B = await atOnce(false);
    rows.B.api = rows.B.runs[0].api;
    rows.B0 = await atOnce(true);
    rows.B0.api = rows.B0.runs[0].api;
    rows.C0 = summary(await repeat(async (round) => {
      server.reset();
      const { ms, got } = await page.evaluate(`(async () => {
        const start = performance.now();
        const remote = await bw.openInWorker("/remote.dat", { onDemand: true });
        const files = [];
        for (const id of first) files.push(await remote.getFile(id));
        const ms = performance.now() - start;
        await remote.close();
        return { ms, got: lengths(files) };
      })()`);
      if (round === 0) same(got, first, "C0");
      return { ms, ...counted(server) };
    }), floor.one_by_one_rt_per_file * ONE_BY_ONE);
  } finally {
    await browser.close();
  }
}

try {
  if (asyncApi) {
    await overNode(() => bw.openArchiveAsync(bw.fetchSource(url, { concurrency: NODE_CONCURRENCY }),
                                             { onDemand: true }));
    await overBlob();
  }
  await inChromium();
} finally {
  server.close();
  local.close();
}

const result = {
  api: asyncApi ? "openArchiveAsync" : "synchronous engine only",
  archive: { files: archive.entries.length, levels: archive.levels, block_size: archive.blockSize,
             chosen: ids.length, one_by_one: first.length },
  floor, round_trip_ms: ROUND_TRIP_MS, rows,
};
writeFileSync(out, JSON.stringify(result));

// The readable table: round trips are whole-run figures, except C's, a file's.
const table = [["row", "wall", "round trips", "floor", "requests", "bytes"]];
const mib = (bytes) => `${(bytes / 2 ** 20).toFixed(2)} MiB`;
const line = (name, row, perFile = 1) => {
  if (!row) return;
  table.push([name, `${row.wall_ms.toFixed(0)} ms`, (row.round_trips / perFile).toFixed(perFile > 1 ? 2 : 1),
              (row.floor_rt / perFile).toFixed(perFile > 1 ? 2 : 0), String(row.requests), mib(row.bytes)]);
};
line("A  200 at once, node, fetchSource x32, on demand", rows.A);
line(`B  200 at once, Chromium worker, whole directory (${rows.B.api})`, rows.B);
line(`B0 200 at once, Chromium worker, on demand (${rows.B0.api})`, rows.B0);
line("C  60 one by one, node, on demand, a file", rows.C, ONE_BY_ONE);
line("C0 60 one by one, Chromium worker, on demand, a file", rows.C0, ONE_BY_ONE);
line("D  open on demand and the first file, node", rows.D);
if (rows.E) table.push(["E  bytes for A, open included", "", "", mib(rows.E.floor_bytes), "", mib(rows.E.bytes)]);
for (const [name, key] of [["A", "A_blob"], ["C", "C_blob"], ["D", "D_blob"]]) {
  const row = rows[key];
  if (row) table.push([`${name}  through a Blob, every chain contiguous`, `${row.wall_ms.toFixed(1)} ms`, "", "",
                       String(row.requests), mib(row.bytes)]);
}
const widths = table[0].map((_, k) => Math.max(...table.map((r) => r[k].length)));
console.log(`${archive.entries.length} files, ${archive.levels} levels; ${ROUND_TRIP_MS} ms a round trip; ` +
            `${result.api}; medians of ${RUNS}`);
for (const r of table) {
  console.log(r.map((cell, k) => (k === 0 ? cell.padEnd(widths[k]) : cell.padStart(widths[k]))).join("  "));
}
console.log(`Floors read only the blocks needed (C's, each node once); C's least for any reader is ` +
            `${floor.one_by_one_least_rt_per_file.toFixed(2)} a file (the open and a round trip a file).`);
