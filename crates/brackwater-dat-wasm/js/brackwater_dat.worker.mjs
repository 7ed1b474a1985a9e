// The worker behind openInWorker: one archive, opened from what the page
// hands it (a File or Blob, a URL, or bytes), answering its calls in turn.
// Files come back transferred, not copied.
import { DatError, load } from "./brackwater_dat.mjs";

const bw = await load();
let archive = null;
let source = null;

function sourceFor(input) {
  if (typeof input === "string") return bw.httpSource(new URL(input, self.location.href).href);
  if (input instanceof Blob) return bw.blobSource(input);
  return input;  // bytes, read in place
}

const calls = {
  open(input, options) {
    source = sourceFor(input);
    archive = bw.openArchive(source, options);
    return { header: archive.header, onDemand: archive.onDemand,
             headerProblems: archive.headerProblems(), note: source.note ?? null };
  },
  size: () => archive.size,
  has: (id) => archive.has(id),
  find: (id) => archive.find(id),
  // Packed, a row of numbers an entry, and transferred: a hundred thousand
  // objects would be copied, and rebuilt on the page's thread all at once.
  entries() {
    const entries = archive.entries();
    const fields = entries.length > 0 ? Object.keys(entries[0]) : [];
    const packed = new Uint32Array(entries.length * fields.length);
    entries.forEach((entry, i) => fields.forEach((field, k) => {
      packed[i * fields.length + k] = Number(entry[field]);
    }));
    const flags = fields.filter((field) => typeof entries[0][field] === "boolean");
    return { fields, flags, packed };
  },
  getFile: (id, options) => archive.getFile(id, options),
  readFileData: (firstBlock, size) => archive.readFileData(firstBlock, size),
  close() {
    archive?.close();
    archive = null;
  },
};

self.onmessage = ({ data: { id, call, args } }) => {
  try {
    if (call !== "open" && archive === null) throw new DatError("the archive is closed", "Closed");
    const result = calls[call](...args);
    const transfer = result instanceof Uint8Array ? [result.buffer]
                   : result?.packed instanceof Uint32Array ? [result.packed.buffer] : [];
    self.postMessage({ id, result }, transfer);
  } catch (error) {
    self.postMessage({ id, error: { name: error?.name ?? "Error", message: String(error?.message ?? error),
                                    debugText: error?.debugText, code: error?.code } });
  }
};
self.postMessage({ ready: true });
