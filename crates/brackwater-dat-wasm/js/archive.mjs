// The archive API over the module: an open archive and a decoded sound
// table. Each holds the runtime (the module instance) it was made by.

import { DatError } from "./errors.mjs";
import { checkBytes, checkU32, readRecord } from "./records.mjs";
import { checkSource } from "./sources.mjs";
import { address } from "./runtime.mjs";

// Only this module makes archives and tables, from handles it owns.
const token = Symbol("brackwater_dat");

// An archive that is dropped without close() is closed when it is collected.
function closeHeld({ runtime, handle, source }) {
  runtime.w.bw_close(handle);
  runtime.dropSource(source);
}
const unclosed = new FinalizationRegistry(closeHeld);

export class Archive {
  #held;
  // Opens the archive a source holds (a Uint8Array is read in place), its
  // directory read whole or, with onDemand, a node at a time as lookups
  // descend it.
  static open(runtime, source, { onDemand = false } = {}) {
    const checked = checkSource(source);
    const id = runtime.addSource(checked);
    const handle = address(runtime.w.bw_open_source(id, checked.length, onDemand ? 1 : 0));
    if (handle === 0) {
      const error = runtime.lastError();
      runtime.dropSource(id);
      throw error;
    }
    return new Archive({ runtime, handle, source: id }, token);
  }
  constructor(held, key) {
    if (key !== token) throw new TypeError("use openArchive to open an archive");
    this.#held = held;
    const { runtime: { w, layout }, handle } = held;
    this.header = Object.freeze(readRecord(held.runtime.view(), address(w.bw_header(handle)), layout.header));
    this.onDemand = w.bw_on_demand(handle) === 1;
    unclosed.register(this, held, this);
  }
  #open() {
    if (this.#held === null) throw new DatError("the archive is closed", "Closed");
    return this.#held;
  }
  // What in the header does not look like an archive's, a line for people
  // each; [] when it looks right. Opening does not judge it.
  headerProblems() {
    const { runtime, handle } = this.#open();
    const lines = runtime.text(runtime.w.bw_header_problems(handle));
    return lines === "" ? [] : lines.slice(0, -1).split("\n");
  }
  // On demand, the first of these walks the whole directory.
  get size() {
    const { runtime, handle } = this.#open();
    const size = runtime.w.bw_size(handle);
    if (size < 0) throw runtime.lastError();
    return size;
  }
  entries() {
    const { runtime, handle } = this.#open();
    const { w, layout } = runtime;
    if (w.bw_list(handle) !== 1) throw runtime.lastError();
    const count = w.bw_entry_count(handle);
    const at = address(w.bw_entry_data(handle));
    const view = runtime.view();
    const entries = new Array(count);
    for (let i = 0; i < count; ++i) entries[i] = readRecord(view, at + layout.entry.size * i, layout.entry);
    return entries;
  }
  // The entry of file `id`, as entries() gives it; DatError with notFound when absent.
  find(id) {
    const { runtime, handle } = this.#open();
    const at = address(runtime.w.bw_find(handle, checkU32(id, "id")));
    if (at === 0) throw runtime.lastError();
    return readRecord(runtime.view(), at, runtime.layout.entry);
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
    const { runtime, handle } = this.#open();
    const checked = checkU32(id, "id");
    return runtime.bytesOut((length) => runtime.w.bw_read_file(handle, checked, 0xFFFFFFFF, strict ? 1 : 0, length));
  }
  // Reads the file, as getFile gives it, into `target` (at least its size);
  // returns the bytes written.
  readFileInto(id, target) {
    const { runtime, handle } = this.#open();
    const checked = checkU32(id, "id");
    checkBytes(target, "target");
    const capacity = Math.min(target.length, 0xFFFFFFFF);
    return runtime.bytesOut((length) => runtime.w.bw_read_file(handle, checked, capacity, 0, length),
                            (bytes) => { target.set(bytes); return bytes.length; });
  }
  readFileData(firstBlock, size) {
    const { runtime, handle } = this.#open();
    const block = checkU32(firstBlock, "firstBlock");
    const count = checkU32(size, "size");
    return runtime.bytesOut((length) => runtime.w.bw_read_file_data(handle, block, count, length));
  }
  close() {
    if (this.#held === null) return;
    unclosed.unregister(this);
    closeHeld(this.#held);
    this.#held = null;
  }
}

// A decoded table, read out of the module at once: it holds no memory there.
export class SoundTable {
  // The class a runtime's users see: SoundTable, whose unpack decodes with
  // that runtime.
  static of(runtime) {
    return class extends SoundTable {
      static unpack(bytes) { return SoundTable.decode(runtime, bytes); }
    };
  }
  static unpack() {
    throw new TypeError("use the SoundTable that load() gives");
  }
  static decode(runtime, bytes) {
    const { w } = runtime;
    const input = runtime.copyIn(checkBytes(bytes, "bytes"));
    const handle = address(w.bw_sound_unpack(input, bytes.length));
    w.bw_free(input);
    if (handle === 0) throw runtime.lastError();
    try {
      return new SoundTable(runtime, handle, token);
    } finally {
      w.bw_sound_free(handle);
    }
  }
  #resolved = new Map();
  constructor(runtime, handle, key) {
    if (key !== token) throw new TypeError("use SoundTable.unpack to decode a table");
    const { w, layout } = runtime;
    this.id = w.bw_sound_id(handle) >>> 0;
    this.hashKey = w.bw_sound_hash_key(handle);
    this.hashCount = w.bw_sound_hash_count(handle);
    this.sounds = new Map();
    const scratch = runtime.scratchWord();
    try {
      const count = w.bw_sound_kind_count(handle);
      const kinds = address(w.bw_sound_kinds(handle));
      for (let i = 0; i < count; ++i) {
        const kind = runtime.view().getUint32(kinds + 4 * i, true);
        const at = address(w.bw_sound_entries(handle, kind, scratch));
        const view = runtime.view();
        const entries = [];
        for (let k = 0, n = view.getUint32(scratch, true); k < n; ++k) {
          entries.push(readRecord(view, at + layout.soundEntry.size * k, layout.soundEntry));
        }
        this.sounds.set(kind, { entries, unknown: w.bw_sound_unknown(handle, kind) });
        // The library's own answer for each kind the table has; any other kind has none.
        if (w.bw_sound_resolve(handle, kind, scratch) === 1) {
          this.#resolved.set(kind, runtime.view().getUint32(scratch, true));
        }
      }
    } finally {
      w.bw_free(scratch);
    }
  }
  resolveSound(kind) { return this.#resolved.get(checkU32(kind, "kind")) ?? null; }
}
