// The built folder as an npm package: packed, installed into a fresh project
// (offline) and imported from node, as a user installs it; and its types as
// tsc sees them, for a project that uses every API and for two that misuse it.
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { cpSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

const { NPM, TSC, WORK_DIR, BRACKWATER_JS_DIR: SITE, BRACKWATER_ARCHIVE: ARCHIVE } = process.env;
const VERSION = process.env.BRACKWATER_VERSION;
const missing = !NPM || NPM.endsWith("NOTFOUND") ? "npm is missing" : false;
const noTsc = !TSC || TSC.endsWith("NOTFOUND") ? "tsc is missing (apt-get install node-typescript)" : false;

let project;  // the fresh project with the package installed

function installed() {
  if (project) return project;
  rmSync(WORK_DIR, { recursive: true, force: true });
  mkdirSync(WORK_DIR, { recursive: true });
  const packed = JSON.parse(execFileSync(NPM, ["pack", SITE, "--pack-destination", WORK_DIR, "--json"],
                                         { encoding: "utf8" }))[0];
  project = join(WORK_DIR, "project");
  mkdirSync(project);
  writeFileSync(join(project, "package.json"), JSON.stringify({ private: true, type: "module" }));
  execFileSync(NPM, ["install", "--offline", "--no-audit", "--no-fund", "--ignore-scripts",
                     join(WORK_DIR, packed.filename)], { cwd: project, stdio: "pipe" });
  project = { dir: project, packed };
  return project;
}

test("the package holds the module, its worker, the wasm and the types, at the project's version",
     { skip: missing }, () => {
  const { packed } = installed();
  assert.equal(packed.name, "brackwater-dat");
  assert.equal(packed.version, VERSION);
  assert.deepEqual(packed.files.map((f) => f.path).sort(),
                   ["LICENSE", "README.md", "archive.mjs", "async_archive.mjs", "async_reads.mjs",
                    "brackwater_dat.d.ts", "brackwater_dat.mjs", "brackwater_dat.wasm", "brackwater_dat.worker.mjs",
                    "errors.mjs", "package.json", "records.mjs", "runtime.mjs", "sources.mjs", "worker_client.mjs"]);
  assert.equal(JSON.parse(readFileSync(join(SITE, "package.json"), "utf8")).license, "MIT");
});

test("installed from its tarball, it is imported by name and reads an archive", { skip: missing }, () => {
  const { dir } = installed();
  const script = `
    import { load } from "brackwater-dat";
    const bw = await load();
    const source = bw.fileSource(${JSON.stringify(ARCHIVE)});
    const archive = bw.openArchive(source, { onDemand: true });
    const table = bw.SoundTable.unpack(archive.getFile(0x20000001));
    console.log(table.resolveSound(0x58).toString(16), import.meta.resolve("brackwater-dat"));`;
  const [wave, resolved] = execFileSync(process.execPath, ["--input-type=module", "-e", script],
                                        { cwd: dir, encoding: "utf8" }).trim().split(" ");
  assert.equal(wave, "a000262");
  assert.match(resolved, /node_modules\/brackwater-dat\/brackwater_dat\.mjs$/);
});

// tsc --noEmit --strict on `file`, resolving the package as node does.
function typecheck(file) {
  const { dir } = installed();
  cpSync(new URL(`./package/${file}`, import.meta.url), join(dir, file));
  writeFileSync(join(dir, "tsconfig.json"), JSON.stringify({
    compilerOptions: { strict: true, noEmit: true, target: "es2022", module: "node16",
                       moduleResolution: "node16", lib: ["es2022", "dom"], types: [] },
    files: [file],
  }));
  return spawnSync(TSC, ["-p", "tsconfig.json"], { cwd: dir, encoding: "utf8" });
}

test("a TypeScript project that uses every API type-checks under --strict", { skip: missing || noTsc }, () => {
  const checked = typecheck("consumer.ts");
  assert.equal(checked.status, 0, checked.stdout + checked.stderr);
});

test("an id given as text, or a remote archive not awaited, does not type-check",
     { skip: missing || noTsc }, () => {
  for (const [file, error] of [["string_id.ts", /TS2345/], ["missing_await.ts", /TS2339/]]) {
    const checked = typecheck(file);
    assert.notEqual(checked.status, 0, file);
    assert.match(checked.stdout, error, file);
  }
});
