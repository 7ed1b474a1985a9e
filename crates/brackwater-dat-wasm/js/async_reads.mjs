// Reads of an asynchronous source for the synchronous module: every call of
// an archive is run against what has been fetched so far; a read that finds
// bytes missing notes them and fails the run, and the call is run again once
// they have come. The reads that the calls in flight miss are gathered,
// merged where they lie near each other, and fetched together, so a batch of
// lookups costs about a round trip per level of the directory, not one per
// node. A call's answer comes only from a run in which every read was
// served, so it is exactly the synchronous reader's.

import { DatError } from "./errors.mjs";

// The cache's unit: fetched bytes are kept a page each, so that evicting one
// frees it (a view would keep the whole fetch alive).
const PAGE = 1024;
// Misses this near each other are fetched as one range.
const MERGE_GAP = 32 << 10;
// A run of reads each right after the last fetch widens from this, doubling.
const FIRST_RUN = 64 << 10;
// How long answers that arrive together are gathered before their calls run again.
const GATHER_MS = 2;

// Thrown through the module by a read that found bytes missing.
const missing = Symbol("missing");

class Call {
  constructor(attempt, walk, resolve, reject) {
    this.attempt = attempt;
    this.walk = walk;       // it reads the whole directory
    this.resolve = resolve;
    this.reject = reject;
    this.held = new Map();  // the pages its runs have read or wait on: kept until it settles
    this.needs = [];        // the ranges of pages its last run missed
    this.waits = 0;         // requests it waits on
    this.missed = false;
    this.settled = false;
    this.chain = null;      // the chain it reads: { bytes }, to size a window around a miss
    this.window = 0;        // the bytes its next miss fetches around itself
  }
}

// `request` in parts of at most `most` pages, which its calls all wait on.
function split(request, most) {
  if (request.end - request.first <= most) return [request];
  const parts = [];
  for (let first = request.first; first < request.end; first += most) {
    parts.push({ ...request, first, end: Math.min(first + most, request.end), calls: new Set(request.calls) });
  }
  return parts;
}

export class AsyncReads {
  #source;
  #cache = new Map();  // page index to its bytes, least recently used first
  #coming = new Map();  // page index to the request that brings it
  #ready = [];  // calls to run
  #wanted = [];  // ranges of pages [first, end) the last runs missed, with their calls
  #hinted = [];  // ranges advised, fetched along with the wanted ones
  #hintedPages = new Set();
  #queue = [];  // requests not yet sent
  #inFlight = new Set();
  #current = null;  // the call running now
  #scheduled = false;
  #gathering = null;
  #lastEnd = -1;
  #run = FIRST_RUN;
  #closed = null;
  #aborting = new AbortController();
  #inMemory;

  // `source`: { length, read(offset, length, { signal }): Promise<Uint8Array> },
  // whose reads may heed the signal, aborted on close(). `view`, when given,
  // is a synchronous source of the same bytes that misses nothing (bytes in
  // memory), read in place of the cache.
  constructor(source, { cacheBytes = 64 << 20, maxFetch = 4 << 20, concurrency = 6 } = {}, view = null) {
    for (const [name, value] of Object.entries({ cacheBytes, maxFetch, concurrency })) {
      if (typeof value !== "number" || !(value >= 0)) throw new TypeError(`${name} is a count, not ${value}`);
    }
    this.#source = source;
    this.length = source.length;
    this.cacheBytes = Math.max(cacheBytes, PAGE);
    this.maxFetch = Math.min(Math.max(maxFetch, 2 * PAGE), 1 << 30);
    this.concurrency = Math.max(1, Math.floor(Math.min(concurrency, 1024)));
    // What a call's reads ahead may hold before it reads only what it
    // misses: windows around a hostile archive's scattered blocks would
    // otherwise hold the archive.
    this.aheadBytes = Math.max(this.cacheBytes / 4, 1 << 20);
    const reads = this;
    // The synchronous source the module reads through.
    this.#inMemory = view !== null;
    this.view = view ?? {
      length: this.length,
      read: (offset, target) => reads.#read(offset, target),
      // A run of blocks read as one: all its pages are missed together.
      readv: (offset, targets) => {
        const end = Math.min(offset + targets.reduce((sum, target) => sum + target.length, 0), reads.length);
        if (offset < end) reads.#need(offset, end);
        let done = 0;
        for (const target of targets) done += reads.#read(offset + done, target);
        return done;
      },
      hint: (offset, length) => reads.#hint(offset, length),
    };
  }

  // Runs `attempt` (synchronous; it reads through `view`) until a run of it
  // misses nothing, and settles with that run's answer. With `walk`, it
  // reads the whole directory.
  run(attempt, { walk = false } = {}) {
    return new Promise((resolve, reject) => {
      if (this.#closed) return reject(this.#closed);
      this.#ready.push(new Call(attempt, walk, resolve, reject));
      this.#schedule();
    });
  }

  // Whether the run so far has missed bytes: a call of several steps stops
  // at the first step that did.
  get missed() { return this.#current?.missed ?? false; }

  // Tells the running call that it reads the chain from `offset` for
  // `bytes`; when its blocks lie one after another, this fetches them all.
  expectChain(offset, bytes) {
    const call = this.#current;
    if (this.#inMemory) return;  // bytes in memory miss nothing
    call.chain ??= { bytes };
    const end = Math.min(offset + bytes, this.length);
    if (offset < end) this.#want(call, Math.floor(offset / PAGE), Math.ceil(end / PAGE));
  }

  // Ends every request and call in flight with `error`; later calls too.
  close(error) {
    if (this.#closed) return;
    this.#closed = error;
    clearTimeout(this.#gathering);
    this.#aborting.abort();
    for (const call of this.#ready) this.#fail(call, error);
    for (const request of [...this.#queue, ...this.#inFlight]) {
      for (const call of request.calls) this.#fail(call, error);
    }
    this.#ready = [];
    this.#queue = [];
    this.#cache.clear();
  }

  #schedule() {
    if (this.#scheduled) return;
    this.#scheduled = true;
    queueMicrotask(() => {
      this.#scheduled = false;
      this.#pump();
    });
  }

  #pump() {
    const ready = this.#ready;
    this.#ready = [];
    for (const call of ready) {
      if (call.settled) continue;
      call.missed = false;
      call.needs = [];
      this.#current = call;
      let settle;
      try {
        const answer = call.attempt();
        settle = () => call.resolve(answer);
      } catch (error) {
        settle = () => call.reject(error);
      } finally {
        this.#current = null;
      }
      if (call.missed) continue;  // it waits on what it missed
      this.#settle(call, settle);
    }
    this.#send();
  }

  // Fails the run unless the running call has every page of [offset, end),
  // which it then holds; notes those it misses.
  #need(offset, end) {
    const call = this.#current;
    const last = Math.ceil(end / PAGE);
    for (let page = Math.floor(offset / PAGE); page < last; ++page) {
      if (!this.#hold(call, page)) {
        this.#missed(call, page, last);
        throw missing;
      }
    }
  }

  // Whether `call` holds `page`, taking it from the cache if there.
  #hold(call, page) {
    if (call.held.has(page)) return true;
    const bytes = this.#cache.get(page);
    if (bytes === undefined) return false;
    this.#cache.delete(page);  // now the most recently used
    this.#cache.set(page, bytes);
    call.held.set(page, bytes);
    return true;
  }

  #read(offset, target) {
    const end = Math.min(offset + target.length, this.length);
    if (offset >= end) return 0;
    this.#need(offset, end);
    const held = this.#current.held;
    for (let page = Math.floor(offset / PAGE); page * PAGE < end; ++page) {
      const bytes = held.get(page);
      const from = Math.max(offset, page * PAGE);
      const to = Math.min(end, page * PAGE + bytes.length);
      target.set(bytes.subarray(from - page * PAGE, to - page * PAGE), from - offset);
    }
    return end - offset;
  }

  // A chain's blocks that do not follow its first lie near it, as a grown
  // archive's do: the read fetches a window around the miss, doubling for
  // each miss after that, rather than a round trip a block. A walk of the
  // directory reads on from each miss, twice as far each time: its nodes
  // lie together, and a round trip a node (or a level's subtree) is the cost
  // otherwise.
  #missed(call, first, end) {
    const pages = Math.ceil(this.length / PAGE);
    if (call.held.size * PAGE > this.aheadBytes) {
      // Enough read ahead for one call: what it misses, and no more.
    } else if (call.chain !== null) {
      call.window = call.window === 0 ? 4 * call.chain.bytes : 2 * call.window;
      const half = Math.ceil(Math.min(call.window, this.maxFetch) / 2 / PAGE);
      first = Math.max(0, first - half);
      end = Math.min(pages, Math.max(end, first + 2 * half));
    } else if (call.walk) {
      call.window = call.window === 0 ? FIRST_RUN : Math.min(2 * call.window, this.maxFetch);
      end = Math.min(pages, Math.max(end, first + call.window / PAGE));
    }
    this.#want(call, first, end);
  }

  #hint(offset, length) {
    const end = Math.min(offset + length, this.length);
    if (offset >= end || this.#current === null) return;
    const first = Math.floor(offset / PAGE);
    if (this.#cache.has(first) || this.#coming.has(first) || this.#hintedPages.has(first)) return;
    this.#hintedPages.add(first);
    this.#hinted.push({ first, end: Math.ceil(end / PAGE) });
  }

  // Notes pages [first, end) that `call` needs: it holds those cached, and
  // waits on those on their way; the others are wanted. Whether any were
  // missing. What it holds or is brought for it stays its own until it
  // settles: a small cache evicting them would have it fetch them again.
  #want(call, first, end) {
    const before = this.#wanted.length;
    call.needs.push([first, end]);
    let from = -1;
    const requests = new Set();
    for (let page = first; page <= end; ++page) {
      const have = page < end && this.#hold(call, page);
      const request = page < end ? this.#coming.get(page) : undefined;
      if (request) requests.add(request);
      if (page < end && !have && !request) {
        if (from < 0) from = page;
      } else if (from >= 0) {
        this.#wanted.push({ first: from, end: page, call });
        from = -1;
      }
    }
    for (const request of requests) {
      if (!request.calls.has(call)) {
        request.calls.add(call);
        ++call.waits;
      }
    }
    const missed = requests.size > 0 || this.#wanted.length > before;
    call.missed ||= missed;
    return missed;
  }

  // Turns what the runs missed into requests: sorted, merged where near
  // (up to maxFetch), with the advised ranges that lie among them.
  #send() {
    const wanted = this.#wanted;
    this.#wanted = [];
    const hinted = this.#hinted;
    this.#hinted = [];
    this.#hintedPages.clear();
    if (wanted.length > 0) {
      const ranges = [...wanted, ...hinted.map((range) => ({ ...range, call: null }))]
        .sort((a, b) => a.first - b.first);
      const maxPages = Math.floor(this.maxFetch / PAGE);
      const gap = Math.ceil(MERGE_GAP / PAGE);
      let request = null;
      const made = [];
      for (const range of ranges) {
        if (request && range.first <= request.end + gap && Math.max(request.end, range.end) - request.first <= maxPages) {
          request.end = Math.max(request.end, range.end);
        } else {
          request = { first: range.first, end: range.end, calls: new Set(), needed: false };
          made.push(request);
        }
        if (range.call) {
          request.needed = true;
          request.calls.add(range.call);
        }
      }
      // Advice rides along with what is needed, never in requests of its
      // own: those would take connections from the reads calls wait on.
      // A range longer than maxFetch (a large file's chain) goes out in
      // parts, side by side, each within the timeout.
      for (const each of made.filter((request) => request.needed).flatMap((request) => split(request, maxPages))) {
        this.#claim(each);
        this.#queue.push(each);
      }
    }
    this.#issue();
  }

  #issue() {
    while (this.#inFlight.size < this.concurrency && this.#queue.length > 0) this.#fetch(this.#queue.shift());
  }

  // Marks the pages of `request` that are neither cached nor coming as its,
  // trimming it to them; a run of reads right after the last fetch widens it.
  #claim(request) {
    if (request.needed && request.first * PAGE === this.#lastEnd) {
      const widened = Math.min(request.first + Math.ceil(this.#run / PAGE), Math.ceil(this.length / PAGE));
      request.end = Math.max(request.end, widened);
      this.#run = Math.min(2 * this.#run, this.maxFetch);
    } else if (request.needed) {
      this.#run = FIRST_RUN;
    }
    while (request.first < request.end && (this.#cache.has(request.first) || this.#coming.has(request.first))) {
      ++request.first;
    }
    while (request.end > request.first && (this.#cache.has(request.end - 1) || this.#coming.has(request.end - 1))) {
      --request.end;
    }
    for (let page = request.first; page < request.end; ++page) {
      if (!this.#coming.has(page) && !this.#cache.has(page)) this.#coming.set(page, request);
    }
    for (const call of request.calls) ++call.waits;
    if (request.needed) this.#lastEnd = request.end * PAGE;
  }

  async #fetch(request) {
    this.#inFlight.add(request);
    const start = request.first * PAGE;
    const length = Math.min(request.end * PAGE, this.length) - start;
    let bytes = null, failure = null;
    if (length > 0) {
      try {
        bytes = await this.#source.read(start, length, { signal: this.#aborting.signal });
        if (!(bytes instanceof Uint8Array) || bytes.length !== length) {
          const got = bytes instanceof Uint8Array ? `${bytes.length} bytes` : "no bytes";
          throw new DatError(`the source read ${got} at ${start} where ${length} were asked for`,
                             `ShortRead { offset: ${start}, wanted: ${length}, got: ${bytes?.length} }`, "Io");
        }
      } catch (error) {
        bytes = null;  // nothing of a failed read is kept
        failure = error instanceof DatError ? error : new DatError(String(error?.message ?? error),
                                                                 `Io(${JSON.stringify(String(error))})`, "Io");
      }
    }
    this.#inFlight.delete(request);
    if (this.#closed) return;
    const brought = new Map();
    for (let page = request.first; page < request.end; ++page) {
      if (this.#coming.get(page) !== request) continue;
      this.#coming.delete(page);
      if (!bytes) continue;
      const part = bytes.slice((page - request.first) * PAGE, (page - request.first + 1) * PAGE);
      brought.set(page, part);
      this.#cache.set(page, part);
    }
    for (const call of request.calls) {
      if (call.settled) continue;
      if (failure) {
        this.#fail(call, failure);
        continue;
      }
      for (const [first, end] of call.needs) {
        for (let page = Math.max(first, request.first); page < Math.min(end, request.end); ++page) {
          const part = brought.get(page);
          if (part) call.held.set(page, part);
        }
      }
      if (--call.waits === 0) this.#ready.push(call);
    }
    this.#evict();
    this.#issue();
    // Answers that arrive together are run together, so the reads they miss
    // next are fetched together too.
    if (this.#inFlight.size === 0) {
      clearTimeout(this.#gathering);
      this.#gathering = null;
      this.#schedule();
    } else {
      this.#gathering ??= setTimeout(() => {
        this.#gathering = null;
        this.#pump();
      }, GATHER_MS);
    }
  }

  #evict() {
    let excess = this.#cache.size * PAGE - this.cacheBytes;
    for (const page of this.#cache.keys()) {
      if (excess <= 0) break;
      this.#cache.delete(page);
      excess -= PAGE;
    }
  }

  #fail(call, error) {
    this.#settle(call, () => call.reject(error));
  }

  #settle(call, settle) {
    if (call.settled) return;
    call.settled = true;
    call.held = null;
    settle();
  }
}
