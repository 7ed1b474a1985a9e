// The worker behind openInWorker: one archive, opened from what the page
// hands it (a File or Blob, a URL, or bytes) through the asynchronous
// engine, so that calls the page makes together are served together.
// Files come back transferred, not copied.
import { DatError, load } from "./brackwater_dat.mjs";

const bw = await load();
let archive = null;

// A URL is fetched by ranges; a Blob or bytes are read where they are.
const sourceFor = (input) => (typeof input === "string" ? bw.fetchSource(new URL(input, self.location.href).href)
                                                        : input);

const calls = {
  async open(input, options) {
    archive = await bw.openArchiveAsync(sourceFor(input), options);
    return { header: archive.header, onDemand: archive.onDemand,
             headerProblems: archive.headerProblems(), note: archive.note };
  },
  size: () => archive.size(),
  has: (id) => archive.has(id),
  find: (id) => archive.find(id),
  // Packed, a row of numbers an entry, and transferred: a hundred thousand
  // objects would be copied, and rebuilt on the page's thread all at once.
  async entries() {
    const entries = await archive.entries();
    const fields = entries.length > 0 ? Object.keys(entries[0]) : [];
    const packed = new Uint32Array(entries.length * fields.length);
    entries.forEach((entry, i) => fields.forEach((field, k) => {
      packed[i * fields.length + k] = Number(entry[field]);
    }));
    const flags = fields.filter((field) => typeof entries[0][field] === "boolean");
    return { fields, flags, packed };
  },
  getFile: (id, options) => archive.getFile(id, options),
  getFiles: (ids, options) => archive.getFiles(ids, options),
  readFileData: (firstBlock, size) => archive.readFileData(firstBlock, size),
  async close() {
    await archive?.close();
    archive = null;
  },
};

// Buffers of the answer that can move to the page rather than be copied.
const movable = (result) => (result instanceof Uint8Array ? [result.buffer]
                           : Array.isArray(result) && result[0] instanceof Uint8Array ? result.map((bytes) => bytes.buffer)
                           : result?.packed instanceof Uint32Array ? [result.packed.buffer] : []);

// Each call answered as soon as it settles: calls made together overlap.
self.onmessage = async ({ data: { id, call, args } }) => {
  try {
    if (call !== "open" && archive === null) throw new DatError("the archive is closed", "Closed");
    const result = await calls[call](...args);
    const transfer = [...new Set(movable(result))];
    self.postMessage({ id, result }, transfer);
  } catch (error) {
    self.postMessage({ id, error: { name: error?.name ?? "Error", message: String(error?.message ?? error),
                                    debugText: error?.debugText, code: error?.code } });
  }
};
self.postMessage({ ready: true });
