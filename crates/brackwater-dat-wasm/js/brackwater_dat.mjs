// The brackwater_dat library in WebAssembly: DAT archives and sound tables
// for browsers and node, with no dependency. `await load()` finds
// brackwater_dat.wasm beside this module; load(bytesOrUrl) takes the module
// from elsewhere. Archives are read where they are, through a source (an
// array, a file, a Blob, a URL), a range at a time: never copied whole into
// the module. openArchiveAsync reads from asynchronous sources (fetchSource,
// a Blob) anywhere, serving calls in flight together; openInWorker runs it
// all in a worker, off a page's main thread.

import { Archive, SoundTable } from "./archive.mjs";
import { AsyncArchive } from "./async_archive.mjs";
import { DatError } from "./errors.mjs";
import { checkBytes } from "./records.mjs";
import { Runtime } from "./runtime.mjs";
import { blobSource, fetchSource, fileSource, httpSource, inWorkerScope } from "./sources.mjs";

export { DatError } from "./errors.mjs";
export { openInWorker } from "./worker_client.mjs";

// The module, instantiated, and everything that reads through it.
export async function load(bytesOrUrl) {
  const runtime = await Runtime.load(bytesOrUrl);
  const { w } = runtime;
  const inWorker = inWorkerScope();
  return {
    DatError,
    SoundTable: SoundTable.of(runtime),
    // Opens the archive a source holds (a Uint8Array is read in place), its
    // directory read whole or, with onDemand, a node at a time as lookups
    // descend it.
    openArchive: (source, options) => Archive.open(runtime, source, options),
    // The same from an asynchronous source (fetchSource(url), a Blob or File,
    // a Uint8Array, or { length, read(offset, length): Promise<Uint8Array> });
    // every method returns a promise, and calls in flight share their reads.
    openArchiveAsync: (source, options) => AsyncArchive.open(runtime, source, options),
    // An archive on a web server, read with fetch() and Range requests.
    fetchSource,
    // A file read through a file descriptor, in node; close() it when done.
    fileSource,
    // A Blob or File, read a chunk at a time, synchronously: in a worker only.
    blobSource,
    // An archive on a web server, read with range requests through a bounded
    // cache of aligned chunks, in a worker (see sources.mjs).
    httpSource: (url, options) => httpSource(url, options, inWorker),
    decompressLrs(bytes) {
      const input = runtime.copyIn(checkBytes(bytes, "bytes"));
      try {
        return runtime.bytesOut((length) => w.bw_decompress_lrs(input, bytes.length, length));
      } finally {
        w.bw_free(input);
      }
    },
    get memoryBytes() { return w.memory.buffer.byteLength; },
  };
}
