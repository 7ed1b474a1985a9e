// The brackwater_dat module's JavaScript API. Ids, sizes and offsets are
// unsigned 32-bit integers, as numbers: one outside 0..0xFFFFFFFF throws
// RangeError, one that is not an integer TypeError.

/** A failure of the reader: `message` is one line for people. */
export declare class DatError extends Error {
  /** `code` the error's kind; a boolean (as it once was) says whether an id was not found. */
  constructor(message: string, debugText?: string, code?: string | boolean);
  /** The library's full form of the error. */
  readonly debugText: string | undefined;
  /** The library's name of the error's kind, one per variant of its error:
   * "Io", "BinRead", "NotFound", "DuplicateId", "DuplicateNamespacedId",
   * "InvalidMagic", "UnsupportedVersion", "InvalidNamespace", "Corruption",
   * "DecompressionFailed", "PathError" or "Other". */
  readonly code: string;
  /** Whether an id is not in the archive: code "NotFound". */
  readonly notFound: boolean;
}

/** The archive header, as read. */
export interface DatHeader {
  magic: number;
  blockSize: number;
  fileSize: number;
  dataset: number;
  subset: number;
  freeHead: number;
  freeTail: number;
  freeCount: number;
  rootOffset: number;
  newLru: number;
  oldLru: number;
  useLru: number;
  masterMapId: number;
  engineVersion: number;
  gameVersion: number;
  versionString: Uint8Array;
  versionMinor: number;
}

/** One file of the directory. */
export interface DatFileEntry {
  id: number;
  /** The id's high byte: 0x20 sound tables, 0x0A waves. */
  type: number;
  bitFlags: number;
  compressed: boolean;
  offset: number;
  size: number;
  timestamp: number;
  version: number;
}

export interface SoundEntry {
  waveDid: number;
  priority: number;
  probability: number;
  volume: number;
}

export interface SoundData {
  entries: SoundEntry[];
  unknown: number;
}

/** A decoded sound table (file type 0x20). */
export declare class SoundTable {
  private constructor();
  /** Decodes a whole sound-table payload; DatError when it ends inside a field. */
  static unpack(bytes: Uint8Array): SoundTable;
  readonly id: number;
  readonly hashKey: number;
  readonly hashCount: number;
  readonly sounds: Map<number, SoundData>;
  /** The wave of the kind's first entry, or null. */
  resolveSound(kind: number): number | null;
}

/**
 * Where an archive's bytes come from: `read` copies the bytes at `offset` into
 * `target` and returns how many (fewer at the end, 0 past it), synchronously.
 */
export interface Source {
  readonly length: number;
  read(offset: number, target: Uint8Array): number;
  /** Reads into each target in turn, as one read would; used where present. */
  readv?(offset: number, targets: Uint8Array[]): number;
  /** What a source has to say of how it reads (a server that sent the archive whole). */
  readonly note?: string;
}

/** A file read through a file descriptor, in node. */
export interface FileSource extends Source {
  close(): void;
}

/** How a Blob or URL source reads: aligned chunks, a bounded cache, widening fetches. */
export interface ChunkOptions {
  /** Bytes a chunk, 64 KiB by default. */
  chunkSize?: number;
  /** Bytes cached at most, 64 MiB by default. */
  cacheBytes?: number;
  /** Bytes one fetch asks for at most, 4 MiB by default. */
  maxFetch?: number;
}

/**
 * A source read asynchronously, by openArchiveAsync: `read` resolves to
 * exactly the `length` bytes at `offset` (the engine never asks past the end).
 */
export interface AsyncSource {
  /** A promise until known (fetchSource's, until its first answer). */
  readonly length: number | Promise<number>;
  /** `signal` aborts when the archive closes: a read may end then. */
  read(offset: number, length: number, options?: { signal?: AbortSignal }): Promise<Uint8Array>;
  /** What a source has to say of how it reads (a server that sent the archive whole). */
  readonly note?: string | null;
}

/** How fetchSource reads, and the engine that reads it. */
export interface FetchOptions {
  /** Bytes the engine keeps cached at most, 64 MiB by default. */
  cacheBytes?: number;
  /** Bytes one request asks for at most where nearby reads are merged, 4 MiB by default. */
  maxFetch?: number;
  /** Requests in flight at once, 6 by default (a browser's connections to a host over HTTP/1.1). */
  concurrency?: number;
  /** A request with no answer by then fails with a DatError, 30,000 by default. */
  timeoutMs?: number;
  /** Sent with every request (authorization, say). */
  headers?: Record<string, string>;
}

/** An archive on a web server, read with fetch() and Range requests. */
export interface FetchSource extends AsyncSource {
  readonly url: string;
}

export interface OpenOptions {
  /** Read the directory's nodes as lookups need them, not all when opening. */
  onDemand?: boolean;
}

/** An open archive. */
export interface Archive {
  readonly header: Readonly<DatHeader>;
  readonly onDemand: boolean;
  /** The number of files; on demand, the first call walks the whole directory. */
  readonly size: number;
  /** What in the header does not look like an archive's; [] when it looks right. */
  headerProblems(): string[];
  /** Every entry, sorted by id. */
  entries(): DatFileEntry[];
  /** The file's entry; DatError with notFound when absent. */
  find(id: number): DatFileEntry;
  has(id: number): boolean;
  /** The file's contents, decompressed when its entry says so. A compressed file
   * whose stream ends before its declared length gives what decodes, or with
   * `strict` is a DatError naming both sizes. */
  getFile(id: number, options?: { strict?: boolean }): Uint8Array;
  /** getFile's bytes into `target`, at least their size; returns how many. */
  readFileInto(id: number, target: Uint8Array): number;
  /** Exactly `size` bytes of the block chain at `firstBlock`. */
  readFileData(firstBlock: number, size: number): Uint8Array;
  close(): void;
}

/**
 * An archive read from an asynchronous source: every call returns a promise,
 * and calls in flight at once share their reads. Answers, errors included,
 * are those of the synchronous Archive.
 */
export interface AsyncArchive extends ArchiveCalls {
  headerProblems(): string[];
  readFileInto(id: number, target: Uint8Array): Promise<number>;
  /** Ends the requests in flight: their calls, and later ones, reject with a DatError. */
  close(): Promise<void>;
}

/** What an archive read asynchronously answers, in a worker or not. */
export interface ArchiveCalls {
  readonly header: Readonly<DatHeader>;
  readonly onDemand: boolean;
  /** What the source says of how it reads (a server that sent the archive whole), or null. */
  readonly note: string | null;
  /** On demand, the first call walks the whole directory. */
  size(): Promise<number>;
  has(id: number): Promise<boolean>;
  find(id: number): Promise<DatFileEntry>;
  entries(): Promise<DatFileEntry[]>;
  getFile(id: number, options?: { strict?: boolean }): Promise<Uint8Array>;
  /** The files in the order asked for, fetched together; rejects as Promise.all does. */
  getFiles(ids: number[], options?: { strict?: boolean }): Promise<Uint8Array[]>;
  readFileData(firstBlock: number, size: number): Promise<Uint8Array>;
}

/** The module, loaded. */
export interface BrackwaterDat {
  readonly DatError: typeof DatError;
  readonly SoundTable: typeof SoundTable;
  /** Opens the archive a source holds; a Uint8Array is read in place. */
  openArchive(source: Uint8Array | Source, options?: OpenOptions): Archive;
  /** Node only. */
  fileSource(path: string | URL): FileSource;
  /** In a worker only. */
  blobSource(blob: Blob, options?: ChunkOptions): Source;
  /**
   * In a worker only: range requests. A failed request, or a range response
   * other than the bytes asked for, throws DatError naming the URL and range.
   */
  httpSource(url: string | URL, options?: ChunkOptions): Source;
  /**
   * Anywhere (node, a page's main thread, a worker): range requests with
   * fetch(). A failed request, one with no answer within timeoutMs, or a range
   * response other than the bytes asked for is a DatError naming the URL and
   * range, failing only the calls that needed it.
   */
  fetchSource(url: string | URL, options?: FetchOptions): FetchSource;
  /** Opens the archive an asynchronous source holds; a Uint8Array is read in place. */
  openArchiveAsync(source: Uint8Array | Blob | AsyncSource, options?: OpenOptions): Promise<AsyncArchive>;
  decompressLrs(bytes: Uint8Array): Uint8Array;
  /** The module's memory, in bytes. */
  readonly memoryBytes: number;
}

/** Loads the module: brackwater_dat.wasm beside this file, or the given bytes or URL. */
export declare function load(bytesOrUrl?: ArrayBuffer | ArrayBufferView | string | URL): Promise<BrackwaterDat>;

/** An archive open in a worker: every call returns a promise. */
export interface RemoteArchive extends ArchiveCalls {
  readonly headerProblems: string[];
  /** Ends the worker; later calls reject with a DatError, and closing again
   * settles as the first close did. One dropped without close() ends its
   * worker when collected. */
  close(): Promise<void>;
}

/**
 * Opens a File or Blob, a URL (a relative one against the page's location),
 * or bytes (copied) in a dedicated worker.
 */
export declare function openInWorker(input: Blob | string | URL | Uint8Array, options?: OpenOptions): Promise<RemoteArchive>;
