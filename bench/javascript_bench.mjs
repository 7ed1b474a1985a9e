// Times the JavaScript module reading every file of an archive with getFile,
// five times, and prints the median (and each run) as JSON for
// bench/report.py.
//
//   node bench/javascript_bench.mjs JS_DIR ARCHIVE OUT.json
import { readFileSync, writeFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [jsDir, archivePath, out] = process.argv.slice(2);
const { load } = await import(pathToFileURL(`${jsDir}/brackwater_dat.mjs`));
const bw = await load();
const archive = bw.openArchive(new Uint8Array(readFileSync(archivePath)));
const entries = archive.entries();
const runs = [];
for (let round = 0; round < 5; ++round) {
  const start = performance.now();
  let bytes = 0;
  for (const entry of entries) bytes += archive.getFile(entry.id).length;
  runs.push((performance.now() - start) / 1000);
  if (bytes === 0) throw new Error("no bytes read");
}
archive.close();
const median = [...runs].sort((a, b) => a - b)[2];
writeFileSync(out, JSON.stringify({ name: "javascript getFile, every file", runs_s: runs,
                                    median_s: median, files: entries.length }));
