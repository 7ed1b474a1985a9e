// The brackwater_dat library in WebAssembly: DAT archives and sound tables
// for browsers and node, with no dependency. `await load()` finds
// brackwater_dat.wasm beside this module; load(bytesOrUrl) takes the module
// from elsewhere.

const WASI_ERRNO_BADF = 8;
const WASI_ERRNO_NOSYS = 52;

// A failure of the reader: `message` is one line for people, `debugText` the
// library's full form, `notFound` true when an id is not in the archive.
export class DatError extends Error {
  constructor(message, debugText, notFound = false) {
    super(message);
    this.name = "DatError";
    this.debugText = debugText;
    this.notFound = notFound;
  }
}

async function moduleBytes(source) {
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return source;
  const url = source === undefined ? new URL("./brackwater_dat.wasm", import.meta.url)
                                   : new URL(source, import.meta.url);
  if (url.protocol === "file:" && globalThis.process?.versions?.node) {
    const { readFile } = await import("node:fs/promises");
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot fetch ${url}: ${response.status}`);
  return response.arrayBuffer();
}

// The few system calls the C library asks for: a clock, and no files, no
// environment, no arguments; anything else is refused.
function systemImports(module, memory) {
  const wasi = {
    args_sizes_get: (argc, size) => {
      const view = new DataView(memory().buffer);
      view.setUint32(argc, 0, true);
      view.setUint32(size, 0, true);
      return 0;
    },
    args_get: () => 0,
    environ_sizes_get: (count, size) => wasi.args_sizes_get(count, size),
    environ_get: () => 0,
    // The clock, in nanoseconds: realtime (0) from Date, the others from
    // performance. The library seeds its directory index from it.
    clock_time_get: (id, precision, time) => {
      const ns = id === 0 ? BigInt(Date.now()) * 1000000n : BigInt(Math.round(performance.now() * 1e6));
      new DataView(memory().buffer).setBigUint64(time, ns, true);
      return 0;
    },
    fd_prestat_get: () => WASI_ERRNO_BADF,
    fd_close: () => 0,
    proc_exit: (code) => {
      throw new Error(`brackwater_dat.wasm exited with ${code}`);
    },
  };
  const imports = {};
  for (const { module: name, name: field, kind } of WebAssembly.Module.imports(module)) {
    if (kind !== "function") continue;
    imports[name] ??= {};
    imports[name][field] = wasi[field] ?? (() => WASI_ERRNO_NOSYS);
  }
  return imports;
}

function checkU32(value, what) {
  if (typeof value !== "number" || !Number.isInteger(value)) {
    throw new TypeError(`${what} must be an integer, not ${typeof value === "number" ? value : typeof value}`);
  }
  if (value < 0 || value > 0xFFFFFFFF) throw new RangeError(`${what} must be in 0..0xFFFFFFFF, not ${value}`);
  return value >>> 0;
}

function checkBytes(value, what) {
  if (!(value instanceof Uint8Array)) throw new TypeError(`${what} must be a Uint8Array`);
  return value;
}

// Readers of the field kinds that the module's layout names.
const FIELD_READERS = {
  u32: (view, at) => view.getUint32(at, true),
  u8: (view, at) => view.getUint8(at),
  bool: (view, at) => view.getUint8(at) !== 0,
  f32: (view, at) => view.getFloat32(at, true),
  bytes16: (view, at) => new Uint8Array(view.buffer, at, 16).slice(),
};

// A record at `at` as a plain object, its fields where `layout` says they lie.
function readRecord(view, at, layout) {
  const record = {};
  for (const [name, offset, kind] of layout.fields) record[name] = FIELD_READERS[kind](view, at + offset);
  return record;
}

export async function load(bytesOrUrl) {
  const module = await WebAssembly.compile(await moduleBytes(bytesOrUrl));
  let instance;
  instance = await WebAssembly.instantiate(module,
                                           systemImports(module, () => instance.exports.memory));
  const w = instance.exports;
  w._initialize?.();
  // Addresses come back as signed 32-bit numbers; read them as unsigned.
  const address = (pointer) => pointer >>> 0;
  const scratchWord = () => {
    const pointer = address(w.bw_malloc(4));
    if (pointer === 0) throw new DatError("out of memory", "OutOfMemory");
    return pointer;
  };

  const view = () => new DataView(w.memory.buffer);
  const text = (pointer) => {
    const bytes = new Uint8Array(w.memory.buffer, address(pointer));
    return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
  };
  const lastError = () => new DatError(text(w.bw_error_display()), text(w.bw_error_debug()),
                                       w.bw_error_not_found() === 1);
  // Where the module's records keep their fields: one definition, the module's.
  const layout = JSON.parse(text(w.bw_layout()));

  // Copies `bytes` into the module's memory; the caller frees the pointer.
  const copyIn = (bytes) => {
    const pointer = address(w.bw_malloc(bytes.length));
    if (pointer === 0) throw new DatError("out of memory", "OutOfMemory");
    new Uint8Array(w.memory.buffer, pointer, bytes.length).set(bytes);
    return pointer;
  };
  // Runs `call(lengthPointer)`, which returns fresh bytes or 0, and hands a
  // view of them to `take` (by default, a copy out of the module's memory).
  const bytesOut = (call, take = (bytes) => bytes.slice()) => {
    const lengthPointer = scratchWord();
    try {
      const pointer = address(call(lengthPointer));
      if (pointer === 0) throw lastError();
      try {
        const length = view().getUint32(lengthPointer, true);
        return take(new Uint8Array(w.memory.buffer, pointer, length));
      } finally {
        w.bw_free(pointer);
      }
    } finally {
      w.bw_free(lengthPointer);
    }
  };

  // Only this module makes archives and tables, from handles it owns.
  const token = Symbol("brackwater_dat");

  class Archive {
    #handle;
    constructor(handle, key) {
      if (key !== token) throw new TypeError("use openArchive to open an archive");
      this.#handle = handle;
      this.header = Object.freeze(readRecord(view(), address(w.bw_header(handle)), layout.header));
    }
    #open() {
      if (this.#handle === 0) throw new DatError("the archive is closed", "Closed");
      return this.#handle;
    }
    // What in the header does not look like an archive's, a line for people
    // each; [] when it looks right. Opening does not judge it.
    headerProblems() {
      const lines = text(w.bw_header_problems(this.#open()));
      return lines === "" ? [] : lines.slice(0, -1).split("\n");
    }
    get size() { return w.bw_size(this.#open()); }
    has(id) { return w.bw_has(this.#open(), checkU32(id, "id")) === 1; }
    entries() {
      const handle = this.#open();
      const count = w.bw_size(handle);
      if (count === 0) return [];  // no records, and no address for them
      const at = address(w.bw_entries(handle));
      if (at === 0) throw lastError();
      const v = view();
      const entries = new Array(count);
      for (let i = 0; i < count; ++i) entries[i] = readRecord(v, at + layout.entry.size * i, layout.entry);
      return entries;
    }
    getFile(id) {
      const handle = this.#open();
      const checked = checkU32(id, "id");
      return bytesOut((length) => w.bw_read_file(handle, checked, 0xFFFFFFFF, length));
    }
    // Reads the file, as getFile gives it, into `target` (at least its size);
    // returns the bytes written.
    readFileInto(id, target) {
      const handle = this.#open();
      const checked = checkU32(id, "id");
      checkBytes(target, "target");
      const capacity = Math.min(target.length, 0xFFFFFFFF);
      return bytesOut((length) => w.bw_read_file(handle, checked, capacity, length),
                      (bytes) => { target.set(bytes); return bytes.length; });
    }
    readFileData(firstBlock, size) {
      const handle = this.#open();
      const block = checkU32(firstBlock, "firstBlock");
      const count = checkU32(size, "size");
      return bytesOut((length) => w.bw_read_file_data(handle, block, count, length));
    }
    close() {
      if (this.#handle !== 0) w.bw_close(this.#handle);
      this.#handle = 0;
    }
  }

  // A decoded table, read out of the module at once: it holds no memory there.
  class SoundTable {
    static unpack(bytes) {
      const input = copyIn(checkBytes(bytes, "bytes"));
      const handle = address(w.bw_sound_unpack(input, bytes.length));
      w.bw_free(input);
      if (handle === 0) throw lastError();
      try {
        return new SoundTable(handle, token);
      } finally {
        w.bw_sound_free(handle);
      }
    }
    #resolved = new Map();
    constructor(handle, key) {
      if (key !== token) throw new TypeError("use SoundTable.unpack to decode a table");
      this.id = w.bw_sound_id(handle) >>> 0;
      this.hashKey = w.bw_sound_hash_key(handle);
      this.hashCount = w.bw_sound_hash_count(handle);
      this.sounds = new Map();
      const scratch = scratchWord();
      try {
        const count = w.bw_sound_kind_count(handle);
        const kinds = address(w.bw_sound_kinds(handle));
        for (let i = 0; i < count; ++i) {
          const kind = view().getUint32(kinds + 4 * i, true);
          const at = address(w.bw_sound_entries(handle, kind, scratch));
          const v = view();
          const entries = [];
          for (let k = 0, n = v.getUint32(scratch, true); k < n; ++k) {
            entries.push(readRecord(v, at + layout.soundEntry.size * k, layout.soundEntry));
          }
          this.sounds.set(kind, { entries, unknown: w.bw_sound_unknown(handle, kind) });
          // The library's own answer for each kind the table has; any other kind has none.
          if (w.bw_sound_resolve(handle, kind, scratch) === 1) {
            this.#resolved.set(kind, view().getUint32(scratch, true));
          }
        }
      } finally {
        w.bw_free(scratch);
      }
    }
    resolveSound(kind) { return this.#resolved.get(checkU32(kind, "kind")) ?? null; }
  }

  return {
    DatError,
    SoundTable,
    openArchive(bytes) {
      checkBytes(bytes, "bytes");
      // The archive goes into a buffer the module's database then adopts.
      const buffer = address(w.bw_bytes_new(bytes.length));
      if (buffer === 0) throw lastError();
      new Uint8Array(w.memory.buffer, address(w.bw_bytes_data(buffer)), bytes.length).set(bytes);
      const handle = address(w.bw_open(buffer, 0));
      if (handle === 0) throw lastError();
      return new Archive(handle, token);
    },
    decompressLrs(bytes) {
      const input = copyIn(checkBytes(bytes, "bytes"));
      try {
        return bytesOut((length) => w.bw_decompress_lrs(input, bytes.length, length));
      } finally {
        w.bw_free(input);
      }
    },
    get memoryBytes() { return w.memory.buffer.byteLength; },
  };
}
