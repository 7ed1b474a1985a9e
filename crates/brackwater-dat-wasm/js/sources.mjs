// Sources: where an archive's bytes come from. A source is any object
// { length, read(offset, target) }: `read` copies the bytes at `offset` into
// the Uint8Array `target` and returns how many, fewer at the end and 0 past
// it. It is called synchronously, from inside a read of the module; what it
// throws reaches the caller as it was thrown when a DatError, else as a
// DatError with code "Io" and its message. fetchSource is asynchronous
// instead, for openArchiveAsync: { length, read(offset, length): Promise }.

import { DatError } from "./errors.mjs";

// In node, files are read through its fs.
const fs = typeof globalThis.process?.versions?.node === "string" ? await import("node:fs") : null;

// Whether this scope is a worker's, whose synchronous requests httpSource
// makes; load() asks once.
export const inWorkerScope = () => typeof globalThis.WorkerGlobalScope === "function" &&
                                   globalThis instanceof globalThis.WorkerGlobalScope;

// A Uint8Array read in place.
export function arraySource(bytes) {
  return {
    length: bytes.length,
    read(offset, target) {
      const part = bytes.subarray(offset, offset + target.length);
      target.set(part);
      return part.length;
    },
  };
}

export function checkSource(source) {
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
export class ChunkReader {
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
                         `ShortRead { offset: ${start}, wanted: ${end - start}, got: ${bytes.length} }`, "Io");
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
                      `Http { url: ${JSON.stringify(url)}, range: ${asked}, error: ${JSON.stringify(what)} }`, "Io");
}

// One synchronous GET of `url`, of `range` ([start, end)) when given.
export function request(url, range) {
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
export function rangeBytes(url, range, got, length) {
  if (got.status !== 206) throw requestError(url, range, "the server stopped serving ranges");
  const parts = /^bytes (\d+)-(\d+)\/(\d+)$/.exec(got.contentRange?.trim() ?? "");
  if (!parts) {
    throw requestError(url, range, `a range response without the archive's length (Content-Range: ${got.contentRange})`);
  }
  const [start, last, total] = parts.slice(1).map(Number);
  if (!Number.isSafeInteger(total)) throw requestError(url, range, `the server gives the archive's length as ${parts[3]}`);
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

// A file read through a file descriptor, in node; close() it when done.
export function fileSource(path) {
  if (!fs) throw new Error("fileSource reads through node's fs; in a browser, use blobSource or openInWorker");
  let fd;
  try {
    fd = fs.openSync(path, "r");
    if (fs.fstatSync(fd).isDirectory()) throw new Error("it is a directory");
  } catch (error) {
    if (fd !== undefined) fs.closeSync(fd);
    throw new DatError(`cannot open ${path}: ${error.message}`, `PathError(${JSON.stringify(String(path))})`,
                       "PathError");
  }
  return {
    length: fs.fstatSync(fd).size,
    read: (offset, target) => fs.readSync(fd, target, 0, target.length, offset),
    readv: (offset, targets) => fs.readvSync(fd, targets, offset),
    close: () => fs.closeSync(fd),
  };
}

// A Blob or File, read a chunk at a time, synchronously: in a worker only.
export function blobSource(blob, options) {
  if (typeof FileReaderSync !== "function") {
    throw new Error("blobSource reads a Blob synchronously, which only a worker can: open it with openInWorker(blob)");
  }
  const reader = new FileReaderSync();
  return new ChunkReader(blob.size, (offset, length) =>
    new Uint8Array(reader.readAsArrayBuffer(blob.slice(offset, offset + length))), options);
}

// An archive on a web server, read with range requests through a bounded
// cache of aligned chunks (options: chunkSize, cacheBytes, maxFetch), in a
// worker (a synchronous request is a worker's only). The first request
// learns the length; a server that ignores ranges sends the archive whole,
// once, which is then read in place and `note` says so.
export function httpSource(url, options = {}, inWorker = inWorkerScope()) {
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
}

// The archive whole from a server that ignores ranges is read up to this.
const MOST_WHOLE = 256 << 20;

// A response's body, or null where it runs past `most` bytes.
async function boundedBody(response, most) {
  if (Number(response.headers.get("content-length")) > most) {
    await response.body?.cancel();
    return null;
  }
  const parts = [];
  let total = 0;
  // A reader, not async iteration, which some browsers' streams lack.
  const reader = response.body?.getReader();
  for (let part = await reader?.read(); part && !part.done; part = await reader.read()) {
    total += part.value.length;
    if (total > most) {
      await reader.cancel().catch(() => {});
      return null;
    }
    parts.push(part.value);
  }
  const bytes = new Uint8Array(total);
  for (let at = 0, k = 0; k < parts.length; at += parts[k++].length) bytes.set(parts[k], at);
  return bytes;
}

// A count of milliseconds to wait, for a timer: Infinity is none.
function checkTimeout(timeoutMs) {
  if (timeoutMs === Infinity) return null;
  if (typeof timeoutMs !== "number" || !(timeoutMs > 0)) throw new TypeError(`timeoutMs is a number of milliseconds, not ${timeoutMs}`);
  return Math.min(timeoutMs, 0x7FFFFFFF);  // a longer one fires at once
}

// An archive on a web server, read with fetch() and Range, for
// openArchiveAsync: in node and browsers, on a main thread or in a worker.
// Its length is a promise until the first answer (the archive's first
// `firstFetch` bytes, its header among them) gives it; only that answer may
// be the whole archive, from a server that ignores ranges. A request that
// does not answer within `timeoutMs` fails, and one whose read's `signal`
// aborts (its archive closed) ends. `cacheBytes`, `maxFetch` and
// `concurrency` are for the engine that reads it.
export function fetchSource(url, { cacheBytes, maxFetch, concurrency = 6, timeoutMs = 30000, headers = {},
                                   firstFetch = 4096 } = {}) {
  const href = String(url);
  const wait = checkTimeout(timeoutMs);
  let whole = null;
  let first = null;
  let version = null;  // the first answer's ETag or Last-Modified
  const get = async (range, signal, retry = true) => {
    const controller = new AbortController();
    let timedOut = false;
    const timer = wait === null ? null : setTimeout(() => {
      timedOut = true;
      controller.abort();
    }, wait);
    let response = null;
    try {
      if (signal?.aborted) throw new Error("aborted");
      response = await fetch(href, {
        headers: { ...headers, Range: `bytes=${range[0]}-${range[1] - 1}` },
        // Ended by the timer, or by the archive's closing.
        signal: signal ? AbortSignal.any([controller.signal, signal]) : controller.signal,
        // A browser's HTTP cache lets one request to a URL through at a time
        // while it may cache the answer; the engine keeps its own cache.
        cache: "no-store",
      });
      const wholeAllowed = range[0] === 0 && first === null;
      if (response.status !== 206 && !(response.status === 200 && wholeAllowed)) {
        throw requestError(href, range, response.status === 200 ? "the server stopped serving ranges"
                           : `${response.status} ${response.statusText}`.trim());
      }
      // A body is read only as far as it may go: the range asked for, or
      // the bound on a whole archive; a server sending more is refused
      // before it is held.
      const most = response.status === 206 ? range[1] - range[0] : MOST_WHOLE;
      const bytes = await boundedBody(response, most);
      if (bytes === null) {
        throw requestError(href, range, response.status === 206 ? "the server sent more bytes than were asked for"
                           : `the server ignores ranges and the archive is larger than ${MOST_WHOLE} bytes`);
      }
      return { status: response.status, bytes,
               contentRange: response.headers.get("content-range"),
               version: response.headers.get("etag") ?? response.headers.get("last-modified") };
    } catch (error) {
      response?.body?.cancel().catch(() => {});  // its connection is not left open
      if (error instanceof DatError) throw error;
      if (timedOut) throw requestError(href, range, `no answer within ${timeoutMs} ms`);
      if (controller.signal.aborted || signal?.aborted) {
        throw requestError(href, range, "the request was ended: the archive was closed");
      }
      // A connection the server closed as it was reused fails a request
      // that never reached it: a GET, asked once more.
      if (retry) return get(range, signal, false);
      throw requestError(href, range, `the request failed: ${error?.cause?.message ?? error?.message ?? error}`);
    } finally {
      clearTimeout(timer);
    }
  };
  const source = {
    url: href,
    note: null,
    options: { cacheBytes, maxFetch, concurrency },
    length: get([0, firstFetch]).then((answer) => {
      if (answer.status === 200) {
        whole = answer.bytes;
        source.note = "the server sent the whole archive: it does not serve ranges";
        return (source.length = whole.length);
      }
      first = rangeBytes(href, [0, firstFetch], answer);
      version = answer.version;
      return (source.length = first.total);
    }),
    async read(offset, length, { signal } = {}) {
      if (whole) return whole.subarray(offset, offset + length);
      if (offset + length <= first.bytes.length) return first.bytes.subarray(offset, offset + length);
      const range = [offset, offset + length];
      const answer = await get(range, signal);
      if (version !== null && answer.version !== null && answer.version !== version) {
        throw requestError(href, range, `the archive changed on the server (${answer.version}, was ${version})`);
      }
      return rangeBytes(href, range, answer, first.total).bytes;
    },
  };
  source.length.catch(() => {});  // the opening awaits it and sees the failure
  return source;
}
