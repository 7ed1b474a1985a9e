// The JavaScript module over the benchmark archives, in node: opening and
// reading the whole of a sparse 3.9 GB archive through a file source, and the
// process's resident memory after; then getFile over every file of the
// 100,000-file archive opened from an array read in place, and how much the
// module's memory grew for it. Medians of 5, after a first round that
// compiles the code; prints JSON for bench/report.py.
//
//   node bench/javascript_bench.mjs JS_DIR ARCHIVE SPARSE_ARCHIVE OUT.json
import { readFileSync, writeFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [jsDir, archivePath, sparsePath, out] = process.argv.slice(2);
const { load } = await import(pathToFileURL(`${jsDir}/brackwater_dat.mjs`));
const bw = await load();
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const timed = (work) => {
  const start = performance.now();
  work();
  return (performance.now() - start) / 1000;
};

// The first open also compiles the module's code (node's JIT, the wasm
// tiers): reported apart, and the median taken over opens after it, as the
// native benchmark's are.
const open = [];
for (let round = 0; round < 6; ++round) {
  const source = bw.fileSource(sparsePath);
  open.push(timed(() => bw.openArchive(source).close()));
  source.close();
}
const firstOpen = open.shift();
const source = bw.fileSource(sparsePath);
const sparse = bw.openArchive(source);
let sparseBytes = 0;
for (const entry of sparse.entries()) sparseBytes += sparse.getFile(entry.id).length;
sparse.close();
source.close();
// Before the array below is read in: what the file source alone took.
const rssAfterSparse = process.memoryUsage().rss;


// A fresh module, whose memory is the array's alone.
const fresh = await load();
const bytes = new Uint8Array(readFileSync(archivePath));
const memoryBefore = fresh.memoryBytes;
const archive = fresh.openArchive(bytes);
const entries = archive.entries();
const memoryGrowth = fresh.memoryBytes - memoryBefore;
const getFile = [];
for (let round = 0; round < 6; ++round) {
  getFile.push(timed(() => {
    let total = 0;
    for (const entry of entries) total += archive.getFile(entry.id).length;
    if (total === 0) throw new Error("no bytes read");
  }));
}
getFile.shift();  // the round that compiled the loop
archive.close();

writeFileSync(out, JSON.stringify({
  median_s: median(getFile), runs_s: getFile, files: entries.length,
  memory_growth_bytes: memoryGrowth,
  sparse_length: source.length, sparse_open_s: median(open), sparse_first_open_s: firstOpen,
  sparse_bytes_read: sparseBytes,
  rss_after_sparse_bytes: rssAfterSparse,
}));
