// The JavaScript API over the WebAssembly module, against the native
// reader's answers for the same synthetic archive (written at build time).
import assert from "node:assert/strict";
import { closeSync, ftruncateSync, mkdtempSync, openSync, readFileSync, rmSync, writeSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
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
    error.message === "failed to fill whole buffer at offset 0x00000144, past the end of the archive's 324 bytes while parsing field 'block_size' in DatHeader" &&
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

  // "hello" flagged compressed: its prefix declares far more than its stream yields.
  const short = tinyArchive();
  new DataView(short.buffer).setUint32(0x404 + 252, 1, true);
  const damaged = bw.openArchive(short);
  assert.equal(damaged.getFile(0x0A000001).length, damaged.getFile(0x0A000001, { strict: false }).length);
  assert.throws(() => damaged.getFile(0x0A000001, { strict: true }), (error) =>
    error instanceof bw.DatError && /^corrupt archive: file 0x0A000001 declares \d+ bytes, the stream yields \d+$/.test(error.message));
  damaged.close();
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

// Every kind of source answers as the native reader does, read whole and on
// demand: an array read in place, a file, and an object of the caller's whose
// reads come back short.
const SOURCES = {
  "an array read in place": () => archiveBytes,
  "a file": () => bw.fileSource(process.env.BRACKWATER_ARCHIVE),
  "an object whose reads come back short": () => ({
    length: archiveBytes.length,
    read(offset, target) {
      const part = archiveBytes.subarray(offset, offset + Math.min(target.length, 700));
      target.set(part);
      return part.length;
    },
  }),
};
for (const [kind, make] of Object.entries(SOURCES)) {
  for (const onDemand of [false, true]) {
    test(`${kind}, its directory read ${onDemand ? "on demand" : "whole"}, answers as the native reader`, () => {
      const source = make();
      const archive = bw.openArchive(source, { onDemand });
      assert.equal(archive.onDemand, onDemand);
      assert.equal(archive.header.rootOffset, expected.header.root_offset);
      for (const [id, flags, offset, size] of expected.entries) {
        assert.deepEqual([archive.find(id).bitFlags, archive.find(id).offset, archive.find(id).size],
                         [flags, offset, size]);
        assert.equal(hexOf(archive.getFile(id)), expected.files[String(id)], `file ${id}`);
      }
      assert.equal(archive.has(0x2000FFFF), false);
      assert.throws(() => archive.find(0x2000FFFF), (error) => error.notFound === true);
      assert.deepEqual(archive.entries().map((e) => e.id), expected.entries.map(([id]) => id));
      assert.equal(archive.size, expected.entries.length);
      archive.close();
      source.close?.();
    });
  }
}

test("a source that fails or breaks its contract is a DatError with its message, and the module goes on", () => {
  // Reads that touch the table's first block get `answer`.
  const table = expected.entries.find(([id]) => id === 0x20000001);
  const failing = (answer) => ({
    length: archiveBytes.length,
    read(offset, target) {
      if (offset < table[2] + 1024 && offset + target.length > table[2]) return answer(offset, target);
      target.set(archiveBytes.subarray(offset, offset + target.length));
      return target.length;
    },
  });
  const cases = [
    [() => { throw new Error("the disk is on fire"); }, /the disk is on fire/],
    [(offset, target) => target.length + 1, /returned \d+ for \d+ bytes/],
    [() => -3, /returned -3/],
  ];
  for (const [answer, message] of cases) {
    const archive = bw.openArchive(failing(answer), { onDemand: true });
    assert.throws(() => archive.getFile(0x20000001), (error) =>
      error instanceof bw.DatError && /^read failed: /.test(error.message) && message.test(error.message));
    assert.equal(archive.find(0x20000001).size, table[3]);  // the module goes on
    archive.close();
  }
  assert.throws(() => bw.openArchive({ length: -1, read: () => 0 }), TypeError);
  assert.throws(() => bw.openArchive({ length: 10 }), TypeError);
  assert.throws(() => bw.fileSource("/no/such/archive.dat"), (error) =>
    error instanceof bw.DatError && /cannot open \/no\/such\/archive.dat/.test(error.message));
  assert.throws(() => bw.blobSource(new Blob([archiveBytes])), /only a worker/);
  assert.throws(() => bw.httpSource("http://127.0.0.1:9/a.dat"), /only a worker/);
});

// httpSource in a worker's scope as node can stand in for one, its requests
// answered by `answer`.
test("httpSource caches chunks fetched together as copies, and its failed or wrong answers are DatErrors",
     async () => {
  let answer;
  globalThis.WorkerGlobalScope = class { static [Symbol.hasInstance]() { return true; } };
  globalThis.XMLHttpRequest = class {
    open() {}
    setRequestHeader(name, value) { this.range = value.match(/\d+/g).map(Number); }
    send() { Object.assign(this, answer(this.range[0], this.range[1] + 1)); }
    getResponseHeader() { return this.contentRange; }
  };
  const module = pathToFileURL(`${process.env.BRACKWATER_JS_DIR}/brackwater_dat.mjs`);
  const worker = await (await import(`${module}?in-a-worker`)).load();
  delete globalThis.WorkerGlobalScope;
  const sent = [];
  const serve = (start, end, change) => {
    sent.push(archiveBytes.slice(start, end));
    return { status: 206, response: sent.at(-1).buffer,
             contentRange: `bytes ${start}-${end - 1}/${archiveBytes.length}`, ...change };
  };
  answer = serve;
  const source = worker.httpSource("http://archive.test/a.dat", { chunkSize: 1024 });
  const readAll = () => {
    const whole = new Uint8Array(archiveBytes.length);
    return [source.read(0, whole), Buffer.compare(whole, archiveBytes)];
  };
  assert.deepEqual(readAll(), [archiveBytes.length, 0]);
  // All of it is cached now, none of it in what the requests read into.
  assert.ok(sent.some((bytes) => bytes.length > 1024));
  for (const bytes of sent) if (bytes.length > 1024) bytes.fill(0);
  assert.deepEqual(readAll(), [archiveBytes.length, 0]);
  for (const [later, message] of [
    [(start, end) => serve(start, end - 1),
     /^http:\/\/archive.test\/a.dat \(bytes 65536-131071\): the server sent bytes 65536-131070 of/],
    [(start, end) => serve(start - 1, end - 1), /: the server sent bytes 65535-131070 of/],
    [(start, end) => serve(start, end, { response: new ArrayBuffer(3) }), /: the server sent 3 bytes for bytes 65536-/],
    [() => ({ status: 404, statusText: "Not Found" }), /\(bytes 65536-131071\): 404 Not Found$/],
    [() => { throw new Error("no route to host"); }, /: the request failed: no route to host$/],
  ]) {
    answer = (start, end) => (start === 0 ? serve : later)(start, end);
    assert.throws(() => worker.httpSource("http://archive.test/a.dat").read(1 << 16, new Uint8Array(8)),
                  (error) => error instanceof worker.DatError && message.test(error.message));
  }
  delete globalThis.XMLHttpRequest;
});

// An archive of 3.9 GB, sparse: its root node and a file lie near the end.
function sparseArchive(path) {
  const root = 0xE8000000;
  const file = root + 2048;
  const node = new Uint8Array(1716);
  const nodeView = new DataView(node.buffer);
  nodeView.setUint32(248, 2, true);
  for (const [k, [id, size]] of [[0x0A000001, 17], [0x0A000002, 0xE0000000]].entries()) {
    nodeView.setUint32(252 + 24 * k + 4, id, true);
    nodeView.setUint32(252 + 24 * k + 8, file, true);
    nodeView.setUint32(252 + 24 * k + 12, size, true);
  }
  const fd = openSync(path, "w");
  const put = (offset, bytes) => writeSync(fd, bytes, 0, bytes.length, offset);
  const header = new DataView(new ArrayBuffer(80));
  header.setUint32(0, 0x5442, true);
  header.setUint32(4, 1024, true);
  header.setUint32(32, root, true);
  put(0x140, new Uint8Array(header.buffer));
  const link = (to) => new Uint8Array(new Uint32Array([to]).buffer);
  put(root, link(root + 1024));
  put(root + 4, node.subarray(0, 1020));
  put(root + 1024 + 4, node.subarray(1020));
  put(file + 4, new TextEncoder().encode("from 3.9 GB away"));
  ftruncateSync(fd, file + 1024);
  closeSync(fd);
  return file + 1024;
}

test("a file source reads a 3.9 GB archive, and a file it cannot hold is a DatError, not a trap", () => {
  const path = join(mkdtempSync(join(tmpdir(), "brackwater-")), "sparse.dat");
  try {
    const length = sparseArchive(path);
    const source = bw.fileSource(path);
    assert.equal(source.length, length);
    const archive = bw.openArchive(source, { onDemand: true });
    assert.equal(new TextDecoder().decode(archive.getFile(0x0A000001)), "from 3.9 GB away\0");
    assert.throws(() => archive.getFile(0x0A000002), (error) =>
      error instanceof bw.DatError && /cannot allocate/.test(error.message));
    assert.equal(archive.getFile(0x0A000001).length, 17);  // the module goes on
    archive.close();
    source.close();
  } finally {
    rmSync(dirname(path), { recursive: true, force: true });
  }
});

test("archives dropped without close() are closed when collected", { skip: !globalThis.gc && "run node with --expose-gc" }, async () => {
  const tiny = tinyArchive();
  const settle = async () => {
    for (let i = 0; i < 3; ++i) {
      globalThis.gc();
      await new Promise((resolve) => setTimeout(resolve, 0));
    }
  };
  await settle();
  const before = bw.memoryBytes;
  for (let round = 0; round < 20; ++round) {
    for (let i = 0; i < 500; ++i) bw.openArchive(tiny).entries();
    await settle();
  }
  // Ten thousand archives held would take well over a megabyte more.
  assert.ok(bw.memoryBytes <= before + (1 << 20), `${before} -> ${bw.memoryBytes}`);
});

test("each failure carries the library's code, and a source's own DatError arrives intact", () => {
  const shortStream = tinyArchive();
  new DataView(shortStream.buffer).setUint32(0x404 + 252, 1, true);  // "hello" flagged compressed
  const rootPastTheEnd = tinyArchive();
  new DataView(rootPastTheEnd.buffer).setUint32(0x160, 0x7FFFFF00, true);
  const own = new bw.DatError("https://host/a.dat (bytes 0-1023): 503 Service Unavailable", "Http { ... }", "Io");
  const failing = { length: 4096, read: () => { throw own; } };
  const rows = [
    ["NotFound", () => bw.openArchive(tinyArchive()).getFile(0x0A000002)],
    ["BinRead", () => bw.openArchive(new Uint8Array(0x150))],
    ["Io", () => bw.openArchive(rootPastTheEnd)],
    ["Corruption", () => bw.openArchive(shortStream).getFile(0x0A000001, { strict: true })],
    ["PathError", () => bw.fileSource("/no/such/archive.dat")],
    ["Other", () => { const a = bw.openArchive(tinyArchive()); a.close(); a.find(1); }],
  ];
  for (const [code, fail] of rows) {
    assert.throws(fail, (error) => error instanceof bw.DatError && error.code === code &&
                                   error.notFound === (code === "NotFound"), code);
  }
  assert.throws(() => bw.openArchive(failing), (error) => error === own);
});
