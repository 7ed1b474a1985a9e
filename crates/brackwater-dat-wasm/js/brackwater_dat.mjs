// The brackwater_dat library in WebAssembly: DAT archives and sound tables
// for browsers and node, with no dependency. `await load()` finds
// brackwater_dat.wasm beside this module; load(bytesOrUrl) takes the module
// from elsewhere. Archives are read where they are, through a source (an
// array, a file, a Blob, a URL), a range at a time: never copied whole into
// the module. openInWorker runs it all in a worker, off a page's main thread.

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
// environment, no arguments; anything else is refused. `own` are the
// module's own imports (its sources' reads).
function systemImports(module, memory, own) {
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
    imports[name][field] = own[field] ?? wasi[field] ?? (() => WASI_ERRNO_NOSYS);
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

// ---- sources ----
//
// A source is any object { length, read(offset, target) }: `read` copies the
// bytes at `offset` into the Uint8Array `target` and returns how many, fewer
// at the end and 0 past it. It is called synchronously, from inside a read
// of the module; what it throws reaches the caller as a DatError.

const isNode = typeof globalThis.process?.versions?.node === "string";
const inWorker = typeof globalThis.WorkerGlobalScope === "function" &&
                 globalThis instanceof globalThis.WorkerGlobalScope;

// A Uint8Array read in place.
function arraySource(bytes) {
  return {
    length: bytes.length,
    read(offset, target) {
      const part = bytes.subarray(offset, offset + target.length);
      target.set(part);
      return part.length;
    },
  };
}

function checkSource(source) {
  if (source instanceof Uint8Array) return arraySource(source);
  if (source === null || typeof source !== "object" || typeof source.read !== "function" ||
      !Number.isSafeInteger(source.length) || source.length < 0) {
    throw new TypeError("an archive's source is a Uint8Array or an object { length, read(offset, target) }");
  }
  return source;
}

// Reads through a bounded cache of aligned chunks, each fetched by
// `fetch(offset, length)`: a Uint8Array of exactly those bytes. Where reads
// go on from one chunk to the next, each fetch asks for twice as many chunks
// as the one before (up to `maxFetch` bytes), so that a chain, or a walk of
// a directory laid out in order, is a handful of requests, not hundreds.
class ChunkReader {
  #fetch;
  #chunks = new Map();  // chunk index to bytes, least recently used first
  #cached = 0;
  #run = 1;
  #last = -2;
  constructor(length, fetch, { chunkSize = 64 << 10, cacheBytes = 64 << 20, maxFetch = 4 << 20 } = {}) {
    this.length = length;
    this.#fetch = fetch;
    this.chunkSize = chunkSize;
    this.cacheBytes = Math.max(cacheBytes, chunkSize);
    this.maxChunks = Math.max(1, Math.floor(maxFetch / chunkSize));
  }
  read(offset, target) {
    let done = 0;
    while (done < target.length && offset + done < this.length) {
      const index = Math.floor((offset + done) / this.chunkSize);
      const chunk = this.#chunk(index);
      const within = offset + done - index * this.chunkSize;
      const count = Math.min(chunk.length - within, target.length - done);
      target.set(chunk.subarray(within, within + count), done);
      done += count;
    }
    return done;
  }
  #chunk(index) {
    const cached = this.#chunks.get(index);
    if (cached) {
      this.#chunks.delete(index);  // now the most recently used
      this.#chunks.set(index, cached);
      return cached;
    }
    this.#run = index === this.#last + 1 ? Math.min(2 * this.#run, this.maxChunks) : 1;
    const lastChunk = Math.ceil(this.length / this.chunkSize) - 1;
    let count = 1;
    while (count < this.#run && index + count <= lastChunk && !this.#chunks.has(index + count)) ++count;
    const start = index * this.chunkSize;
    const end = Math.min(start + count * this.chunkSize, this.length);
    const bytes = this.#fetch(start, end - start);
    if (bytes.length !== end - start) {
      throw new DatError(`read ${bytes.length} bytes at ${start} where ${end - start} were asked for`,
                         `ShortRead { offset: ${start}, wanted: ${end - start}, got: ${bytes.length} }`);
    }
    let wanted;
    for (let k = 0; k < count; ++k) {
      // Each chunk its own copy, unless it is all of its buffer: a view would
      // keep the whole fetch alive while any chunk of it is cached, and
      // evicting the others would free nothing.
      const part = bytes.subarray(k * this.chunkSize, (k + 1) * this.chunkSize);
      const chunk = part.byteLength === part.buffer.byteLength ? part : part.slice();
      this.#chunks.set(index + k, chunk);
      this.#cached += chunk.length;
      wanted ??= chunk;
    }
    this.#last = index + count - 1;
    for (const [old, chunk] of this.#chunks) {
      if (this.#cached <= this.cacheBytes) break;
      this.#chunks.delete(old);
      this.#cached -= chunk.length;
    }
    return wanted;
  }
}

// A request that failed, as a DatError: the URL, the bytes asked for and
// what came back instead.
function requestError(url, range, what) {
  const bytes = range ? ` (bytes ${range[0]}-${range[1] - 1})` : "";
  const asked = range ? `Some(${range[0]}..${range[1]})` : "None";
  return new DatError(`${url}${bytes}: ${what}`,
                      `Http { url: ${JSON.stringify(url)}, range: ${asked}, error: ${JSON.stringify(what)} }`);
}

// One synchronous GET of `url`, of `range` ([start, end)) when given.
function request(url, range) {
  const xhr = new XMLHttpRequest();
  xhr.open("GET", url, false);
  xhr.responseType = "arraybuffer";
  if (range) xhr.setRequestHeader("Range", `bytes=${range[0]}-${range[1] - 1}`);
  try {
    xhr.send();
  } catch (error) {
    // A synchronous request that reaches no server throws (a NetworkError).
    throw requestError(url, range, `the request failed: ${error?.message ?? error}`);
  }
  if (xhr.status !== 200 && xhr.status !== 206) {
    throw requestError(url, range, xhr.status === 0 ? "the request failed"
                                                    : `${xhr.status} ${xhr.statusText}`.trim());
  }
  return { status: xhr.status, bytes: new Uint8Array(xhr.response),
           contentRange: xhr.getResponseHeader("Content-Range") };
}

// The bytes of a range response to `range`, and the archive's length its
// Content-Range gives, which must be `length` when known: a server that
// sends other bytes than those asked for, or fewer, would have the archive
// read wrong, and one whose length changed serves another archive.
function rangeBytes(url, range, got, length) {
  if (got.status !== 206) throw requestError(url, range, "the server stopped serving ranges");
  const parts = /^bytes (\d+)-(\d+)\/(\d+)$/.exec(got.contentRange?.trim() ?? "");
  if (!parts) {
    throw requestError(url, range, `a range response without the archive's length (Content-Range: ${got.contentRange})`);
  }
  const [start, last, total] = parts.slice(1).map(Number);
  if (length !== undefined && total !== length) {
    throw requestError(url, range, `the archive's length changed from ${length} to ${total} bytes`);
  }
  if (start !== range[0] || last + 1 !== Math.min(range[1], total)) {
    throw requestError(url, range, `the server sent bytes ${start}-${last} of ${total}`);
  }
  if (got.bytes.length !== last + 1 - start) {
    throw requestError(url, range, `the server sent ${got.bytes.length} bytes for bytes ${start}-${last}`);
  }
  return { bytes: got.bytes, total };
}

// ---- the module ----

export async function load(bytesOrUrl) {
  const module = await WebAssembly.compile(await moduleBytes(bytesOrUrl));
  const fs = isNode ? await import("node:fs") : null;

  // The sources of open archives, by the number the module knows each by.
  const sources = new Map();
  let nextSource = 1;
  let instance;
  // A source's read of `targets` in turn from `offset`, as one read: its
  // readv where it has one (a file's, one system call), else read by read.
  const readInto = (source, offset, targets) => {
    if (source.readv) return source.readv(offset, targets);
    let total = 0;
    for (const target of targets) {
      const got = source.read(offset + total, target);
      if (!Number.isInteger(got) || got < 0 || got > target.length) {
        throw new Error(`the source's read returned ${got} for ${target.length} bytes`);
      }
      total += got;
      if (got < target.length) break;
    }
    return total;
  };
  // The count read, or -1 with the error kept for source_error.
  const readSource = (id, offset, targets) => {
    const held = sources.get(id);
    try {
      const got = readInto(held.source, offset, targets);
      const wanted = targets.reduce((sum, target) => sum + target.length, 0);
      if (!Number.isInteger(got) || got < 0 || got > wanted) {
        throw new Error(`the source's read returned ${got} for ${wanted} bytes`);
      }
      return got;
    } catch (error) {
      held.error = String(error?.message ?? error);
      return -1;
    }
  };
  const memory = () => instance.exports.memory.buffer;
  const own = {
    source_read: (id, offset, pointer, length) =>
      readSource(id, offset, [new Uint8Array(memory(), pointer >>> 0, length)]),
    source_read_parts: (id, offset, parts, count) => {
      const table = new Uint32Array(memory(), parts >>> 0, 2 * count);
      const targets = [];
      for (let i = 0; i < count; ++i) targets.push(new Uint8Array(memory(), table[2 * i], table[2 * i + 1]));
      return readSource(id, offset, targets);
    },
    source_error: (id, pointer, capacity) => {
      const message = new TextEncoder().encode(sources.get(id)?.error ?? "the source failed");
      new Uint8Array(instance.exports.memory.buffer, pointer >>> 0, capacity)
        .set(message.subarray(0, capacity));
      return message.length;
    },
  };
  instance = await WebAssembly.instantiate(module,
                                           systemImports(module, () => instance.exports.memory, own));
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

  // An archive that is dropped without close() is closed when it is collected.
  const closeHeld = ({ handle, source }) => {
    w.bw_close(handle);
    sources.delete(source);
  };
  const unclosed = new FinalizationRegistry(closeHeld);

  // Only this module makes archives and tables, from handles it owns.
  const token = Symbol("brackwater_dat");

  class Archive {
    #held;
    constructor(held, key) {
      if (key !== token) throw new TypeError("use openArchive to open an archive");
      this.#held = held;
      this.header = Object.freeze(readRecord(view(), address(w.bw_header(held.handle)), layout.header));
      this.onDemand = w.bw_on_demand(held.handle) === 1;
      unclosed.register(this, held, this);
    }
    #open() {
      if (this.#held === null) throw new DatError("the archive is closed", "Closed");
      return this.#held.handle;
    }
    // What in the header does not look like an archive's, a line for people
    // each; [] when it looks right. Opening does not judge it.
    headerProblems() {
      const lines = text(w.bw_header_problems(this.#open()));
      return lines === "" ? [] : lines.slice(0, -1).split("\n");
    }
    // On demand, the first of these walks the whole directory.
    get size() {
      const size = w.bw_size(this.#open());
      if (size < 0) throw lastError();
      return size;
    }
    entries() {
      const handle = this.#open();
      if (w.bw_list(handle) !== 1) throw lastError();
      const count = w.bw_entry_count(handle);
      const at = address(w.bw_entry_data(handle));
      const v = view();
      const entries = new Array(count);
      for (let i = 0; i < count; ++i) entries[i] = readRecord(v, at + layout.entry.size * i, layout.entry);
      return entries;
    }
    // The entry of file `id`, as entries() gives it; DatError with notFound when absent.
    find(id) {
      const at = address(w.bw_find(this.#open(), checkU32(id, "id")));
      if (at === 0) throw lastError();
      return readRecord(view(), at, layout.entry);
    }
    has(id) {
      try {
        this.find(id);
        return true;
      } catch (error) {
        if (error instanceof DatError && error.notFound) return false;
        throw error;
      }
    }
    // With strict, a compressed file whose stream ends before its declared
    // length is a DatError naming both sizes, not what decodes.
    getFile(id, { strict = false } = {}) {
      const handle = this.#open();
      const checked = checkU32(id, "id");
      return bytesOut((length) => w.bw_read_file(handle, checked, 0xFFFFFFFF, strict ? 1 : 0, length));
    }
    // Reads the file, as getFile gives it, into `target` (at least its size);
    // returns the bytes written.
    readFileInto(id, target) {
      const handle = this.#open();
      const checked = checkU32(id, "id");
      checkBytes(target, "target");
      const capacity = Math.min(target.length, 0xFFFFFFFF);
      return bytesOut((length) => w.bw_read_file(handle, checked, capacity, 0, length),
                      (bytes) => { target.set(bytes); return bytes.length; });
    }
    readFileData(firstBlock, size) {
      const handle = this.#open();
      const block = checkU32(firstBlock, "firstBlock");
      const count = checkU32(size, "size");
      return bytesOut((length) => w.bw_read_file_data(handle, block, count, length));
    }
    close() {
      if (this.#held === null) return;
      unclosed.unregister(this);
      closeHeld(this.#held);
      this.#held = null;
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
    // Opens the archive a source holds (see above; a Uint8Array is read in
    // place), its directory read whole or, with onDemand, a node at a time
    // as lookups descend it.
    openArchive(source, { onDemand = false } = {}) {
      const checked = checkSource(source);
      const id = nextSource++;
      sources.set(id, { source: checked });
      const handle = address(w.bw_open_source(id, checked.length, onDemand ? 1 : 0));
      if (handle === 0) {
        const error = lastError();
        sources.delete(id);
        throw error;
      }
      return new Archive({ handle, source: id }, token);
    },
    // A file read through a file descriptor, in node; close() it when done.
    fileSource(path) {
      if (!fs) throw new Error("fileSource reads through node's fs; in a browser, use blobSource or openInWorker");
      let fd;
      try {
        fd = fs.openSync(path, "r");
        if (fs.fstatSync(fd).isDirectory()) throw new Error("it is a directory");
      } catch (error) {
        if (fd !== undefined) fs.closeSync(fd);
        throw new DatError(`cannot open ${path}: ${error.message}`, `PathError(${JSON.stringify(String(path))})`);
      }
      return {
        length: fs.fstatSync(fd).size,
        read: (offset, target) => fs.readSync(fd, target, 0, target.length, offset),
        readv: (offset, targets) => fs.readvSync(fd, targets, offset),
        close: () => fs.closeSync(fd),
      };
    },
    // A Blob or File, read a chunk at a time, synchronously: in a worker only.
    blobSource(blob, options) {
      if (typeof FileReaderSync !== "function") {
        throw new Error("blobSource reads a Blob synchronously, which only a worker can: open it with openInWorker(blob)");
      }
      const reader = new FileReaderSync();
      return new ChunkReader(blob.size, (offset, length) =>
        new Uint8Array(reader.readAsArrayBuffer(blob.slice(offset, offset + length))), options);
    },
    // An archive on a web server, read with range requests through a bounded
    // cache of aligned chunks (options: chunkSize, cacheBytes, maxFetch), in a
    // worker (a synchronous request is a worker's only). The first request
    // learns the length; a server that ignores ranges sends the archive whole,
    // once, which is then read in place and `note` says so.
    httpSource(url, options = {}) {
      if (typeof XMLHttpRequest !== "function" || !inWorker) {
        throw new Error("httpSource makes synchronous requests, which only a worker can: open the URL with openInWorker(url)");
      }
      const href = String(url);
      const chunkSize = options.chunkSize ?? 64 << 10;
      const answer = request(href, [0, chunkSize]);
      if (answer.status === 200) {
        return Object.assign(arraySource(answer.bytes),
                             { note: "the server sent the whole archive: it does not serve ranges" });
      }
      const first = rangeBytes(href, [0, chunkSize], answer);
      return new ChunkReader(first.total, (offset, length) => {
        if (offset === 0 && length <= first.bytes.length) return first.bytes.subarray(0, length);
        const range = [offset, offset + length];
        return rangeBytes(href, range, request(href, range), first.total).bytes;
      }, options);
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

// ---- in a worker ----

const ENTRIES_A_SLICE = 20000;

// A remote archive dropped without close() ends its worker when collected.
const abandoned = new FinalizationRegistry((worker) => worker.terminate());

// The page's side of a worker's calls: `call(holder, name, args)` posts one,
// and its promise settles with the answer. Apart from openInWorker, so that
// the worker's handlers do not share the scope that holds the archive: from
// the worker (which the registry holds) the archive would never be collected.
function connect(worker) {
  const pending = new Map();
  let next = 0;
  let failed = null;
  const ready = new Promise((resolve, reject) => {
    worker.onmessage = ({ data }) => {
      if (data.ready) return resolve();
      const waiting = pending.get(data.id);
      pending.delete(data.id);
      if (data.error) {
        const { name, message, debugText, notFound } = data.error;
        waiting.reject(name === "DatError" ? new DatError(message, debugText, notFound)
                       : new (globalThis[name] ?? Error)(message));
      } else {
        waiting.resolve(data.result);
      }
    };
    worker.onerror = (event) => {
      failed = new Error(`the worker failed: ${event.message ?? "it could not start"}`);
      reject(failed);
      for (const waiting of pending.values()) waiting.reject(failed);
      pending.clear();
    };
  });
  // A call in flight keeps its `holder` (the archive) from being collected,
  // and so its worker from ending before the answer.
  const call = (holder, name, args) => new Promise((resolve, reject) => {
    if (failed) return reject(failed);
    const id = next++;
    pending.set(id, { resolve, reject, holder });
    worker.postMessage({ id, call: name, args });
  });
  // Ends the worker: a terminated worker answers nothing, so what waits on
  // it, and every later call, fails with `error` rather than never settling.
  const end = (error) => {
    failed ??= error;
    worker.terminate();
    for (const waiting of pending.values()) waiting.reject(failed);
    pending.clear();
  };
  return { ready, call, end };
}

// Opens an archive in a dedicated worker (brackwater_dat.worker.mjs beside
// this module), so that a page never waits on a read: a File or Blob, a URL
// (string or URL; a relative one is the page's), or a Uint8Array (copied to
// the worker). Every method returns a promise; failures reject with DatError.
export async function openInWorker(input, { onDemand = false } = {}) {
  // The worker would resolve a relative URL against its own script's.
  const base = globalThis.location?.href;
  const opening = input instanceof URL ? input.href
                : typeof input === "string" && base !== undefined ? new URL(input, base).href : input;
  const worker = new Worker(new URL("./brackwater_dat.worker.mjs", import.meta.url), { type: "module" });
  const connection = connect(worker);
  await connection.ready;
  let remote = null;
  let closing = null;
  const call = (name, ...args) => connection.call(remote, name, args);
  let opened;
  try {
    opened = await call("open", opening, { onDemand });
  } catch (error) {
    worker.terminate();
    throw error;
  }
  remote = {
    header: opened.header,
    onDemand: opened.onDemand,
    headerProblems: opened.headerProblems,
    note: opened.note,
    size: () => call("size"),
    has: (id) => call("has", id),
    find: (id) => call("find", id),
    // Rebuilt from the worker's packed rows a slice at a time, letting the
    // page's thread do other work between slices.
    async entries() {
      const { fields, flags, packed } = await call("entries");
      const count = fields.length === 0 ? 0 : packed.length / fields.length;
      const entries = new Array(count);
      for (let start = 0; start < count; start += ENTRIES_A_SLICE) {
        if (start > 0) await new Promise((resolve) => setTimeout(resolve, 0));
        for (let i = start; i < Math.min(count, start + ENTRIES_A_SLICE); ++i) {
          const entry = {};
          fields.forEach((field, k) => { entry[field] = packed[i * fields.length + k]; });
          for (const flag of flags) entry[flag] = entry[flag] === 1;
          entries[i] = entry;
        }
      }
      return entries;
    },
    getFile: (id, options) => call("getFile", id, options),
    readFileData: (firstBlock, size) => call("readFileData", firstBlock, size),
    async close() {
      if (closing) return closing;
      abandoned.unregister(worker);
      closing = call("close").finally(() => connection.end(new DatError("the archive is closed", "Closed")));
      return closing;
    },
  };
  abandoned.register(remote, worker, worker);
  return remote;
}
