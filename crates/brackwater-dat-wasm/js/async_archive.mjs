// An archive read from an asynchronous source: the synchronous Archive over
// the reads of AsyncReads, each call run until it misses nothing. Calls in
// flight at once share their fetches; none blocks the thread it runs on.

import { Archive } from "./archive.mjs";
import { AsyncReads } from "./async_reads.mjs";
import { DatError } from "./errors.mjs";
import { checkBytes, checkU32 } from "./records.mjs";
import { arraySource } from "./sources.mjs";

// A source the engine reads: bytes, read in place; a Blob or File, sliced;
// or the caller's own { length, read(offset, length): Promise<Uint8Array> },
// whose length may be a promise (fetchSource's is, until its first answer).
async function asyncSource(input) {
  if (input instanceof Uint8Array) return { source: { length: input.length }, view: arraySource(input) };
  if (typeof Blob === "function" && input instanceof Blob) {
    return {
      source: {
        length: input.size,
        read: async (offset, length) => new Uint8Array(await input.slice(offset, offset + length).arrayBuffer()),
      },
      view: null,
    };
  }
  if (input === null || typeof input !== "object" || typeof input.read !== "function") {
    throw new TypeError("an archive's source is a Uint8Array, a Blob, fetchSource(url) or an object " +
                        "{ length, read(offset, length): Promise<Uint8Array> }");
  }
  const length = await input.length;
  if (!Number.isSafeInteger(length) || length < 0) {
    throw new TypeError(`an archive's source has a length of bytes, not ${length}`);
  }
  return { source: input, view: null, length };
}

export class AsyncArchive {
  #archive;
  #reads;

  static async open(runtime, input, { onDemand = false } = {}) {
    const { source, view, length = source.length } = await asyncSource(input);
    const reads = new AsyncReads({ length, read: source.read?.bind(source) }, source.options, view);
    try {
      const archive = await reads.run(() => Archive.open(runtime, reads.view, { onDemand }), { walk: !onDemand });
      return new AsyncArchive(archive, reads, source.note ?? null);
    } catch (error) {
      reads.close(error);
      throw error;
    }
  }

  constructor(archive, reads, note) {
    this.#archive = archive;
    this.#reads = reads;
    this.header = archive.header;
    this.onDemand = archive.onDemand;
    // What the source says of how it reads (a server that ignores ranges).
    this.note = note;
  }

  // The runs of a call read the chain of `bytes` at `offset`: fetched whole
  // where its blocks lie one after another, from the first block's link to
  // the last byte the last block gives. Where blocks are far larger than
  // what they carry (a header's block size no archive has), only the first
  // block's part.
  #expect(offset, bytes) {
    const blockSize = this.header.blockSize;
    if (blockSize <= 4 || bytes === 0) return;
    const capacity = blockSize - 4;
    const blocks = Math.ceil(bytes / capacity);
    const span = (blocks - 1) * blockSize + 4 + (bytes - (blocks - 1) * capacity);
    this.#reads.expectChain(offset, span <= 2 * (bytes + 4 * blocks) ? span : 4 + Math.min(bytes, capacity));
  }
  #run(attempt, options) { return this.#reads.run(attempt, options); }

  headerProblems() { return this.#archive.headerProblems(); }
  // On demand, the first of these walks the whole directory.
  size() { return this.#run(() => this.#archive.size, { walk: true }); }
  entries() { return this.#run(() => this.#archive.entries(), { walk: true }); }
  has(id) { return this.#run(() => this.#archive.has(id)); }
  find(id) { return this.#run(() => this.#archive.find(id)); }
  getFile(id, options) {
    return this.#run(() => {
      const { offset, size } = this.#archive.find(id);
      this.#expect(offset, size);
      return this.#reads.missed ? null : this.#archive.getFile(id, options);
    });
  }
  // The files, in the order asked for; rejects as Promise.all does.
  getFiles(ids, options) {
    if (!Array.isArray(ids)) return Promise.reject(new TypeError("ids is an array of file ids"));
    return Promise.all(ids.map((id) => this.getFile(id, options)));
  }
  readFileInto(id, target) {
    checkBytes(target, "target");
    return this.#run(() => {
      const { offset, size } = this.#archive.find(id);
      this.#expect(offset, size);
      return this.#reads.missed ? null : this.#archive.readFileInto(id, target);
    });
  }
  readFileData(firstBlock, size) {
    return this.#run(() => {
      this.#expect(checkU32(firstBlock, "firstBlock"), checkU32(size, "size"));
      return this.#reads.missed ? null : this.#archive.readFileData(firstBlock, size);
    });
  }
  // Ends the requests in flight; their calls, and later ones, reject.
  async close() {
    this.#reads.close(new DatError("the archive is closed", "Closed"));
    this.#archive.close();
  }
}
