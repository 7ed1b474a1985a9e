// The page's side of openInWorker: an archive opened in a dedicated worker
// (brackwater_dat.worker.mjs beside this module), whose every method returns
// a promise, so that a page never waits on a read.

import { DatError } from "./errors.mjs";

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
        const { name, message, debugText, code } = data.error;
        waiting.reject(name === "DatError" ? new DatError(message, debugText, code)
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
    getFiles: (ids, options) => call("getFiles", ids, options),
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
