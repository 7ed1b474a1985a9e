// The WebAssembly module and its memory: compiled and instantiated with the
// few system calls its C library asks for and the reads of the sources of
// open archives, with what the other parts need to call it (copies in and
// out of its memory, its last error, its records' layout).

import { DatError } from "./errors.mjs";

const WASI_ERRNO_BADF = 8;
const WASI_ERRNO_NOSYS = 52;

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

// Addresses come back as signed 32-bit numbers; read them as unsigned.
export const address = (pointer) => pointer >>> 0;

// A source's read of `targets` in turn from `offset`, as one read: its
// readv where it has one (a file's, one system call), else read by read.
function readInto(source, offset, targets) {
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
}

export class Runtime {
  #sources = new Map();  // the sources of open archives, by the number the module knows each by
  #nextSource = 1;
  #sourceFailure = null;  // a DatError a source threw, for the call it failed to answer

  static async load(bytesOrUrl) {
    const module = await WebAssembly.compile(await moduleBytes(bytesOrUrl));
    const runtime = new Runtime();
    let instance;
    const memory = () => instance.exports.memory.buffer;
    const own = {
      source_read: (id, offset, pointer, length) =>
        runtime.#readSource(id, offset, [new Uint8Array(memory(), pointer >>> 0, length)]),
      source_read_parts: (id, offset, parts, count) => {
        const table = new Uint32Array(memory(), parts >>> 0, 2 * count);
        const targets = [];
        for (let i = 0; i < count; ++i) targets.push(new Uint8Array(memory(), table[2 * i], table[2 * i + 1]));
        return runtime.#readSource(id, offset, targets);
      },
      // Advice that a range will be read soon, for a source that fetches ahead.
      source_hint: (id, offset, length) => runtime.#sources.get(id)?.source.hint?.(offset, length),
      source_error: (id, pointer, capacity) => {
        const message = new TextEncoder().encode(runtime.#sources.get(id)?.error ?? "the source failed");
        new Uint8Array(memory(), pointer >>> 0, capacity).set(message.subarray(0, capacity));
        return message.length;
      },
    };
    instance = await WebAssembly.instantiate(module, systemImports(module, () => instance.exports.memory, own));
    runtime.w = instance.exports;
    runtime.w._initialize?.();
    // Where the module's records keep their fields: one definition, the module's.
    runtime.layout = JSON.parse(runtime.text(runtime.w.bw_layout()));
    return runtime;
  }

  // The count read, or -1 with the error kept for source_error and, when it
  // is a DatError (a failed request), for the caller as it was thrown.
  #readSource(id, offset, targets) {
    const held = this.#sources.get(id);
    try {
      const got = readInto(held.source, offset, targets);
      const wanted = targets.reduce((sum, target) => sum + target.length, 0);
      if (!Number.isInteger(got) || got < 0 || got > wanted) {
        throw new Error(`the source's read returned ${got} for ${wanted} bytes`);
      }
      return got;
    } catch (error) {
      held.error = String(error?.message ?? error);
      this.#sourceFailure = error instanceof DatError ? error : null;
      return -1;
    }
  }

  addSource(source) {
    const id = this.#nextSource++;
    this.#sources.set(id, { source });
    return id;
  }
  dropSource(id) { this.#sources.delete(id); }

  view() { return new DataView(this.w.memory.buffer); }
  text(pointer) {
    const bytes = new Uint8Array(this.w.memory.buffer, address(pointer));
    return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
  }
  // The failure of the call that just returned 0: a source's own DatError
  // when that is what failed it, else the library's error with its code.
  lastError() {
    const display = this.text(this.w.bw_error_display());
    const failure = this.#sourceFailure;
    this.#sourceFailure = null;
    if (failure && display.includes(failure.message)) return failure;
    return new DatError(display, this.text(this.w.bw_error_debug()), this.text(this.w.bw_error_code()));
  }
  scratchWord() {
    const pointer = address(this.w.bw_malloc(4));
    if (pointer === 0) throw new DatError("out of memory", "OutOfMemory", "Io");
    return pointer;
  }
  // Copies `bytes` into the module's memory; the caller frees the pointer.
  copyIn(bytes) {
    const pointer = address(this.w.bw_malloc(bytes.length));
    if (pointer === 0) throw new DatError("out of memory", "OutOfMemory", "Io");
    new Uint8Array(this.w.memory.buffer, pointer, bytes.length).set(bytes);
    return pointer;
  }
  // Runs `call(lengthPointer)`, which returns fresh bytes or 0, and hands a
  // view of them to `take` (by default, a copy out of the module's memory).
  bytesOut(call, take = (bytes) => bytes.slice()) {
    const lengthPointer = this.scratchWord();
    try {
      const pointer = address(call(lengthPointer));
      if (pointer === 0) throw this.lastError();
      try {
        const length = this.view().getUint32(lengthPointer, true);
        return take(new Uint8Array(this.w.memory.buffer, pointer, length));
      } finally {
        this.w.bw_free(pointer);
      }
    } finally {
      this.w.bw_free(lengthPointer);
    }
  }
}
