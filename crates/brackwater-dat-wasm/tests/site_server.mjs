// A loopback server for the explorer page and the remote reads: the built
// site, archives by path served with ranges (under /no-ranges/, whole,
// ignoring Range), and a count of the requests and bytes it sent for
// archives. With `delayMs` every archive answer waits that long first (a far
// host's round trip); `misbehave({ path, range })` may answer a request with
// another status (a number) or never ("stall", until close).
import { closeSync, existsSync, openSync, readFileSync, readSync, statSync } from "node:fs";
import { createServer } from "node:http";
import { extname, join, normalize } from "node:path";

const TYPES = { ".html": "text/html", ".mjs": "text/javascript", ".css": "text/css",
                ".wasm": "application/wasm" };

function readRange(path, start, end) {
  const bytes = Buffer.alloc(end - start);
  const fd = openSync(path, "r");
  try {
    readSync(fd, bytes, 0, bytes.length, start);
  } finally {
    closeSync(fd);
  }
  return bytes;
}

// `archives`: path on the server to a file, or to bytes.
export async function serveSite(site, archives, { delayMs = 0 } = {}) {
  const sent = { requests: 0, bytes: 0, inFlight: 0, mostInFlight: 0 };
  let log = [];  // when each archive request arrived (Date.now()), and the bytes sent for it
  let misbehave = () => undefined;
  const send = (response, status, headers, body, arrived = Date.now()) => {
    sent.requests += 1;
    sent.bytes += body.length;
    log.push({ arrived, bytes: body.length });
    response.writeHead(status, { "content-length": body.length, ...headers }).end(body);
  };
  const answer = (request, response) => {
    const url = new URL(request.url, "http://localhost");
    const ranges = !url.pathname.startsWith("/no-ranges/");
    const archive = archives[ranges ? url.pathname : url.pathname.slice("/no-ranges".length)];
    if (archive instanceof Uint8Array) return send(response, 200, {}, archive, request.arrived);
    if (archive) {
      const length = statSync(archive).size;
      const range = ranges && /^bytes=(\d+)-(\d+)$/.exec(request.headers.range ?? "");
      const [start, end] = range ? [Number(range[1]), Math.min(Number(range[2]) + 1, length)] : [0, length];
      const odd = misbehave({ path: url.pathname, range: range ? [start, end] : null });
      if (odd === "stall") return undefined;
      if (odd !== undefined) return send(response, odd, {}, Buffer.from("refused"), request.arrived);
      return send(response, range ? 206 : 200, {
        "content-type": "application/octet-stream",
        ...(range ? { "content-range": `bytes ${start}-${end - 1}/${length}` } : {}),
      }, readRange(archive, start, end), request.arrived);
    }
    const file = join(site, normalize(url.pathname === "/" ? "/index.html" : url.pathname));
    if (!file.startsWith(site) || !existsSync(file)) return response.writeHead(404).end();
    response.writeHead(200, { "content-type": TYPES[extname(file)] ?? "application/octet-stream" });
    response.end(readFileSync(file));
  };
  const server = createServer((request, response) => {
    if (!(new URL(request.url, "http://localhost").pathname in archives) && !request.url.startsWith("/no-ranges/")) {
      return answer(request, response);
    }
    sent.inFlight += 1;
    sent.mostInFlight = Math.max(sent.mostInFlight, sent.inFlight);
    response.on("close", () => { sent.inFlight -= 1; });
    request.arrived = Date.now();
    if (delayMs === 0) return answer(request, response);
    setTimeout(() => answer(request, response), delayMs);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    sent,
    reset: () => {
      Object.assign(sent, { requests: 0, bytes: 0, mostInFlight: sent.inFlight });
      log = [];
    },
    // The archive requests that arrived before `time`, and their bytes.
    sentBefore: (time) => log.filter(({ arrived }) => arrived < time)
      .reduce((sum, { bytes }) => ({ requests: sum.requests + 1, bytes: sum.bytes + bytes }), { requests: 0, bytes: 0 }),
    misbehave: (how) => { misbehave = how ?? (() => undefined); },
    close: () => { server.closeAllConnections(); server.close(); },
  };
}
