// The asynchronous engine against the synchronous reader: the same answers,
// errors included, for many lookups in flight at once, on intact and damaged
// archives; and over a loopback server, a failed or stalled request failing
// only the calls that needed it, and close() ending the calls in flight.
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";
import { after, before, test } from "node:test";
import { pathToFileURL } from "node:url";
import { promisify } from "node:util";
import { serveSite } from "./site_server.mjs";

const { load, DatError } = await import(pathToFileURL(`${process.env.BRACKWATER_JS_DIR}/brackwater_dat.mjs`));
const bw = await load();
const ARCHIVE = process.env.BRACKWATER_ARCHIVE;
const intact = new Uint8Array(readFileSync(ARCHIVE));
const truncatedTable = new Uint8Array(readFileSync(process.env.BRACKWATER_TRUNCATED_ARCHIVE));

function random(seed) {
  let state = seed >>> 0;
  return (below) => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return Math.floor((state / 2 ** 32) * below);
  };
}

// The archive with bytes flipped at random, or cut short.
function damaged(seed) {
  const draw = random(seed);
  const bytes = intact.slice(0, seed % 3 === 0 ? 0x400 + draw(intact.length - 0x400) : intact.length);
  for (let k = 0; k < 40; ++k) bytes[draw(bytes.length)] ^= 1 << draw(8);
  return bytes;
}

// What a call came to: a digest of its answer, or its error's code and message.
const outcome = (settled) => settled.status === "fulfilled"
  ? createHash("sha1").update(JSON.stringify(settled.value, (_, v) => v instanceof Uint8Array ? [...v] : v)).digest("hex")
  : settled.reason instanceof DatError ? `${settled.reason.code}: ${settled.reason.message}` : String(settled.reason);
const settle = (call) => { try { return { status: "fulfilled", value: call() }; } catch (reason) { return { status: "rejected", reason }; } };

// Bytes served after a random wait each, so that answers come back out of order.
const jittery = (bytes, seed) => {
  const draw = random(seed);
  return {
    length: bytes.length,
    read: (offset, length) => new Promise((resolve) =>
      setTimeout(() => resolve(bytes.slice(offset, offset + length)), draw(4))),
  };
};

const intactEntries = bw.openArchive(intact).entries();
const knownIds = intactEntries.map((entry) => entry.id);
const absentIds = [0, 1, 0x0A000000, 0x20000002, 0xFFFFFFFF, ...knownIds.slice(0, 20).map((id) => id + 1)];

// Every call at once on the engine, each against the same call made alone on the reader.
async function compare(bytes, source, onDemand, label, ids = [...knownIds, ...absentIds]) {
  const opened = settle(() => bw.openArchive(bytes, { onDemand }));
  const asyncOpened = await bw.openArchiveAsync(source, { onDemand }).then(
    (value) => ({ status: "fulfilled", value }), (reason) => ({ status: "rejected", reason }));
  assert.equal(asyncOpened.status, opened.status, `${label}: opening: ${asyncOpened.reason?.message}`);
  if (opened.status === "rejected") {
    assert.equal(outcome(asyncOpened), outcome(opened), `${label}: opening`);
    return;
  }
  const sync = opened.value;
  const archive = asyncOpened.value;
  const calls = [
    ...ids.map((id) => [`getFile ${id}`, () => sync.getFile(id), () => archive.getFile(id)]),
    ...ids.slice(0, 60).map((id) => [`strict ${id}`, () => sync.getFile(id, { strict: true }),
                                     () => archive.getFile(id, { strict: true })]),
    ...ids.slice(0, 60).map((id) => [`has ${id}`, () => sync.has(id), () => archive.has(id)]),
    ...ids.slice(0, 60).map((id) => [`find ${id}`, () => sync.find(id), () => archive.find(id)]),
    ...ids.slice(0, 20).map((id) => [`readFileInto ${id}`, () => { const into = new Uint8Array(1 << 16); return [sync.readFileInto(id, into), into]; },
                                     async () => { const into = new Uint8Array(1 << 16); return [await archive.readFileInto(id, into), into]; }]),
    // Chains from where the intact directory says files lie, whatever this archive holds there.
    ...intactEntries.slice(0, 40).map(({ offset, size }) => [`readFileData ${offset}`, () => sync.readFileData(offset, size),
                                                             () => archive.readFileData(offset, size)]),
    ["entries", () => sync.entries(), () => archive.entries()],
    ["size", () => sync.size, () => archive.size()],
  ];
  const answers = await Promise.allSettled(calls.map(([, , call]) => call()));
  calls.forEach(([name, call], i) => assert.equal(outcome(answers[i]), outcome(settle(call)), `${label}: ${name}`));
  sync.close();
  await archive.close();
}

test("many calls in flight answer as the synchronous reader does, on intact and damaged archives", async () => {
  const archives = [["intact", intact], ["a sound table cut short", truncatedTable],
                    ...Array.from({ length: 8 }, (_, seed) => [`damaged ${seed}`, damaged(seed)])];
  for (const [label, bytes] of archives) {
    // Of a damaged archive, a sample of the ids, some absent.
    const draw = random(label.length);
    const ids = bytes === intact ? undefined : Array.from({ length: 100 }, () => knownIds[draw(knownIds.length)] + draw(2));
    for (const onDemand of [false, true]) {
      await compare(bytes, jittery(bytes, label.length), onDemand, `${label}, onDemand ${onDemand}`, ids);
    }
  }
  // Bytes in memory, read in place, give the same too.
  await compare(intact, intact, true, "bytes");
});

let server;
let url;
before(async () => {
  server = await serveSite("/nonexistent", { "/portal.dat": ARCHIVE, "/cut.dat": truncatedTable }, { delayMs: 5 });
  url = `${server.origin}/portal.dat`;
});
after(() => server.close());

test("over HTTP, fetchSource gives the same answers", async () => {
  for (const onDemand of [false, true]) {
    await compare(intact, bw.fetchSource(url, { concurrency: 4 }), onDemand, `fetchSource, onDemand ${onDemand}`);
    await compare(truncatedTable, bw.fetchSource(`${server.origin}/cut.dat`), onDemand, "fetchSource, cut");
  }
});

test("the README's node example runs as written, the archive served from here", async () => {
  const readme = readFileSync(new URL("../../../README.md", import.meta.url), "utf8");
  const example = /### From node\n\n```js\n(.*?)```/s.exec(readme)[1]
    .replaceAll("https://example.org/client_portal.dat", url)
    .replaceAll('"brackwater-dat"', JSON.stringify(pathToFileURL(`${process.env.BRACKWATER_JS_DIR}/brackwater_dat.mjs`).href))
    .replaceAll('"client_portal.dat"', JSON.stringify(ARCHIVE));
  const table = bw.SoundTable.unpack(sync.getFile(0x20000001));
  const waves = [...new Set([...table.sounds.keys()].map((kind) => table.resolveSound(kind)))].filter((w) => w !== null);
  const bytes = waves.reduce((sum, wave) => sum + sync.getFile(wave).length, 0);
  // Not spawnSync: the server answering it runs in this process.
  const { stdout } = await promisify(execFile)(process.execPath, ["--input-type=module", "-e", example]);
  assert.equal(stdout, `${waves.length} waves, ${bytes} bytes\n${sync.size} files\n`);
});

// Three files far apart, so that no request of one carries another's bytes.
const sync = bw.openArchive(intact);
const byOffset = sync.entries().filter((entry) => entry.size > 1000).sort((a, b) => a.offset - b.offset);
const spread = [0, Math.floor(byOffset.length / 2), byOffset.length - 1].map((i) => byOffset[i]);
const holds = (range, entry) => range && range[0] <= entry.offset && entry.offset < range[1];

test("a failed or stalled request fails only the calls that needed it, naming the URL and range", async () => {
  for (const [how, options, message] of [[500, {}, /\(bytes \d+-\d+\): 500 Internal Server Error$/],
                                         ["stall", { timeoutMs: 300 }, /\(bytes \d+-\d+\): no answer within 300 ms$/]]) {
    const archive = await bw.openArchiveAsync(bw.fetchSource(url, options));
    server.misbehave(({ range }) => (holds(range, spread[1]) ? how : undefined));
    const answers = await Promise.allSettled(spread.map((entry) => archive.getFile(entry.id)));
    server.misbehave(null);
    assert.equal(answers[1].status, "rejected");
    assert.ok(answers[1].reason instanceof DatError);
    assert.equal(answers[1].reason.code, "Io");
    assert.ok(answers[1].reason.message.startsWith(url), answers[1].reason.message);
    assert.match(answers[1].reason.message, message);
    for (const i of [0, 2]) assert.deepEqual(answers[i].value, sync.getFile(spread[i].id));
    // The failure is not kept: the file reads once the server answers.
    assert.deepEqual(await archive.getFile(spread[1].id), sync.getFile(spread[1].id));
    await archive.close();
  }
});

test("close() ends the requests in flight and rejects their calls and later ones", async () => {
  const archive = await bw.openArchiveAsync(bw.fetchSource(url));
  server.misbehave(() => "stall");
  const far = spread.slice(1).map((entry) => entry.id);  // past the first answer's bytes
  const calls = Promise.allSettled([archive.getFiles(far), archive.getFile(far[0])]);
  await new Promise((resolve) => setTimeout(resolve, 100));
  assert.ok(server.sent.inFlight > 0);
  await archive.close();
  for (const answer of await calls) assert.equal(answer.reason?.message, "the archive is closed");
  await assert.rejects(archive.find(far[0]), { message: "the archive is closed" });
  await new Promise((resolve) => setTimeout(resolve, 50));
  assert.equal(server.sent.inFlight, 0);
  server.misbehave(null);
});
