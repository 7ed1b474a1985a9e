// The JavaScript API over the WebAssembly module, against the native
// reader's answers for the same synthetic archive (written at build time).
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

const { load } = await import(pathToFileURL(`${process.env.BRACKWATER_JS_DIR}/brackwater_dat.mjs`));
const bw = await load();
const archiveBytes = new Uint8Array(readFileSync(process.env.BRACKWATER_ARCHIVE));
const expected = JSON.parse(readFileSync(process.env.BRACKWATER_EXPECTATIONS, "utf8"));

const PINNED = [
  [0x20000001, 0x58, 0x0A000262], [0x20000001, 0x5B, 0x0A000274], [0x20000001, 0x46, null],
  [0x20000001, 0xFFFFFFFF, null], [0x200000A8, 0x1F, 0x0A000519], [0x200000A8, 0x46, null],
];

const hexOf = (bytes) => Buffer.from(bytes).toString("hex");
const camel = (name) => name.replace(/_([a-z])/g, (_, c) => c.toUpperCase());
const floatBits = (value) => {
  const view = new DataView(new ArrayBuffer(4));
  view.setFloat32(0, value, true);
  return view.getUint32(0, true);
};

// A one-file archive: header, a root node at 0x400 and the file's block at 0xC00.
function tinyArchive() {
  const bytes = new Uint8Array(0xC00 + 1024);
  const view = new DataView(bytes.buffer);
  view.setUint32(0x144, 1024, true);       // block_size
  view.setUint32(0x160, 0x400, true);      // root_offset
  view.setUint32(0x404 + 248, 1, true);    // one entry
  const entry = 0x404 + 252;
  view.setUint32(entry + 4, 0x0A000001, true);
  view.setUint32(entry + 8, 0xC00, true);
  view.setUint32(entry + 12, 5, true);
  bytes.set(new TextEncoder().encode("hello"), 0xC04);
  return bytes;
}

test("the header has every field as the native reader read it", () => {
  const archive = bw.openArchive(archiveBytes);
  for (const [name, value] of Object.entries(expected.header)) {
    if (name === "version_string") {
      assert.equal(hexOf(archive.header.versionString), value);
      assert.ok(archive.header.versionString instanceof Uint8Array);
    } else {
      assert.equal(archive.header[camel(name)], value, name);
    }
  }
  assert.equal(Object.keys(archive.header).length, 17);
  archive.close();
});

test("entries come sorted by id and every file matches the native reader byte for byte", () => {
  const archive = bw.openArchive(archiveBytes);
  const entries = archive.entries();
  assert.equal(archive.size, expected.entries.length);
  assert.deepEqual(entries.map((e) => [e.id, e.bitFlags, e.offset, e.size, e.timestamp, e.version]),
                   expected.entries);
  const target = new Uint8Array(1 << 20);
  for (const e of entries) {
    assert.equal(e.type, e.id >>> 24);
    assert.equal(e.compressed, (e.bitFlags & 1) === 1);
    assert.ok(archive.has(e.id));
    assert.equal(hexOf(archive.getFile(e.id)), expected.files[String(e.id)], `file ${e.id}`);
    // Into the caller's array, the same bytes.
    const written = archive.readFileInto(e.id, target);
    assert.equal(hexOf(target.subarray(0, written)), expected.files[String(e.id)], `file ${e.id}`);
  }
  assert.throws(() => archive.readFileInto(0x20000001, new Uint8Array(10)),
                (error) => error instanceof bw.DatError && /a buffer of 10 bytes cannot hold/.test(error.message));
  const stored = archive.readFileData(entries[0].offset, entries[0].size);
  assert.equal(stored.length, entries[0].size);
  archive.close();
});

test("all 410 resolutions of the two tables, the pinned ones among them, and every table field", () => {
  const archive = bw.openArchive(archiveBytes);
  let pairs = 0;
  for (const tableId of [0x20000001, 0x200000A8]) {
    const table = bw.SoundTable.unpack(archive.getFile(tableId));
    const native = expected.tables[String(tableId)];
    assert.equal(table.id, native.id);
    assert.equal(table.hashKey, native.hash_key);
    assert.equal(table.hashCount, native.hash_count);
    assert.deepEqual([...table.sounds.keys()].sort((a, b) => a - b),
                     Object.keys(native.sounds).map(Number).sort((a, b) => a - b));
    for (const [kind, sound] of table.sounds) {
      const want = native.sounds[String(kind)];
      assert.equal(sound.unknown, want.unknown);
      assert.deepEqual(sound.entries.map((e) => [e.waveDid, floatBits(e.priority),
                                                 floatBits(e.probability), floatBits(e.volume)]),
                       want.entries);
    }
    for (let kind = 0; kind <= 204; ++kind, ++pairs) {
      assert.equal(table.resolveSound(kind), native.resolutions[String(kind)], `${tableId} ${kind}`);
    }
    for (const [pinnedTable, kind, wave] of PINNED) {
      if (pinnedTable === tableId) assert.equal(table.resolveSound(kind), wave);
    }
  }
  assert.equal(pairs, 410);
  archive.close();
});

test("failures throw DatError with the display and debug texts", () => {
  const archive = bw.openArchive(archiveBytes);
  assert.throws(() => archive.getFile(0x2000FFFF), (error) =>
    error instanceof bw.DatError && error instanceof Error && error.notFound === true &&
    error.message === "no file 0x2000FFFF in the archive" && error.debugText === "NotFound(536936447)");
  archive.close();

  assert.throws(() => bw.openArchive(new Uint8Array(0x144)), (error) =>
    error instanceof bw.DatError && error.notFound === false &&
    error.message === "failed to fill whole buffer while parsing field 'block_size' in DatHeader" &&
    error.debugText.startsWith("BinRead(failed to fill whole buffer\n While parsing field 'block_size'"));

  // A root node past the end of the data: a read error.
  const rootPastTheEnd = tinyArchive();
  new DataView(rootPastTheEnd.buffer).setUint32(0x160, 0x7FFFFF00, true);
  assert.throws(() => bw.openArchive(rootPastTheEnd), (error) =>
    error instanceof bw.DatError &&
    error.message === "read failed: failed to fill whole buffer at offset 0x7FFFFF00, past the end of the archive's 4096 bytes" &&
    error.debugText === 'Io(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" })');

  const truncated = bw.openArchive(new Uint8Array(readFileSync(process.env.BRACKWATER_TRUNCATED_ARCHIVE)));
  assert.throws(() => bw.SoundTable.unpack(truncated.getFile(0x20000001)), (error) =>
    error instanceof bw.DatError && error.message === "failed to fill whole buffer");
  truncated.close();
});

test("decompressLrs decodes the library's vectors", () => {
  assert.deepEqual([...bw.decompressLrs(new Uint8Array([6, 0, 0, 0, 0x40, 0x61, 0x01, 0x03]))],
                   Array(6).fill(0x61));
  assert.deepEqual([...bw.decompressLrs(new Uint8Array([0x0A, 0, 0, 0, 0x20, 0x78, 0x79, 0x05, 0x01]))],
                   [0x78, 0x79, 0x78, 0x78, 0x78]);
  assert.deepEqual([...bw.decompressLrs(new Uint8Array([1, 2]))], [1, 2]);
});

test("arguments that are not unsigned 32-bit integers are refused", () => {
  const archive = bw.openArchive(tinyArchive());
  for (const [bad, type] of [[-1, RangeError], [2 ** 32, RangeError], [1.5, TypeError],
                             ["0x0A000001", TypeError], [null, TypeError], [10n, TypeError]]) {
    assert.throws(() => archive.getFile(bad), type, String(bad));
    assert.throws(() => archive.has(bad), type, String(bad));
    assert.throws(() => archive.readFileData(bad, 1), type, String(bad));
    assert.throws(() => archive.readFileData(0x400, bad), type, String(bad));
  }
  assert.throws(() => bw.openArchive([1, 2, 3]), TypeError);
  assert.throws(() => bw.SoundTable.unpack("table"), TypeError);
  assert.throws(() => bw.decompressLrs(new ArrayBuffer(8)), TypeError);
  const table = bw.SoundTable.unpack(new Uint8Array(16));
  assert.throws(() => table.resolveSound(-1), RangeError);
  assert.throws(() => table.resolveSound("0x58"), TypeError);
  assert.throws(() => new bw.SoundTable(0, undefined), TypeError);
  assert.equal(new TextDecoder().decode(archive.getFile(0x0A000001)), "hello");
  archive.close();
});

test("headerProblems says what in a header is no archive's, as the native reader judges it", () => {
  const archive = bw.openArchive(archiveBytes);
  assert.deepEqual(archive.headerProblems(), []);
  archive.close();
  const zeros = bw.openArchive(new Uint8Array(400));
  assert.deepEqual(zeros.entries(), []);
  assert.deepEqual(zeros.headerProblems(), [
    "magic is 0x00000000, not 0x00005442", "block size 0 is less than 8",
    "file_size says 0 bytes, the archive has 400"]);
  assert.deepEqual(zeros.headerProblems(), zeros.headerProblems());
  zeros.close();
  assert.throws(() => zeros.headerProblems(), bw.DatError);
});

test("a closed archive throws on every later call", () => {
  const archive = bw.openArchive(tinyArchive());
  archive.close();
  archive.close();  // closing twice is harmless
  for (const call of [() => archive.size, () => archive.has(1), () => archive.entries(),
                      () => archive.getFile(0x0A000001), () => archive.readFileData(0x400, 4)]) {
    assert.throws(call, bw.DatError);
  }
});

test("ten thousand rounds of opening, reading, closing and unpacking keep memory bounded", () => {
  const tiny = tinyArchive();
  const archive = bw.openArchive(archiveBytes);
  const table = archive.getFile(0x20000001);
  archive.close();
  const round = () => {
    const a = bw.openArchive(tiny);
    a.getFile(0x0A000001);
    a.readFileData(0xC00, 100);
    assert.throws(() => a.getFile(0x0A000002), bw.DatError);
    a.entries();
    a.close();
    bw.decompressLrs(table.subarray(0, 64));
    bw.SoundTable.unpack(table);
    assert.throws(() => bw.SoundTable.unpack(table.subarray(0, 20)));
  };
  for (let i = 0; i < 100; ++i) round();
  const settled = bw.memoryBytes;
  for (let i = 0; i < 10000; ++i) round();
  assert.equal(bw.memoryBytes, settled);
});
