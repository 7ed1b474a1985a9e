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
  entries: () => archive.entries(),
  getFile: (id) => archive.getFile(id),
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
    self.postMessage({ id, result }, result instanceof Uint8Array ? [result.buffer] : []);
  } catch (error) {
    self.postMessage({ id, error: { name: error?.name ?? "Error", message: String(error?.message ?? error),
                                    debugText: error?.debugText, notFound: error?.notFound === true } });
  }
};
self.postMessage({ ready: true });
