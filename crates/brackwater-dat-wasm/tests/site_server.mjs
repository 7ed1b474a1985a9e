// A loopback server for the explorer page: the built site, archives by path
// served with ranges (under /no-ranges/, whole, ignoring Range), and a count
// of the requests and bytes it sent for archives.
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
export async function serveSite(site, archives) {
  const sent = { requests: 0, bytes: 0 };
  const send = (response, status, headers, body) => {
    sent.requests += 1;
    sent.bytes += body.length;
    response.writeHead(status, { "content-length": body.length, ...headers }).end(body);
  };
  const server = createServer((request, response) => {
    const url = new URL(request.url, "http://localhost");
    const ranges = !url.pathname.startsWith("/no-ranges/");
    const archive = archives[ranges ? url.pathname : url.pathname.slice("/no-ranges".length)];
    if (archive instanceof Uint8Array) return send(response, 200, {}, archive);
    if (archive) {
      const length = statSync(archive).size;
      const range = ranges && /^bytes=(\d+)-(\d+)$/.exec(request.headers.range ?? "");
      const [start, end] = range ? [Number(range[1]), Math.min(Number(range[2]) + 1, length)] : [0, length];
      return send(response, range ? 206 : 200, {
        "content-type": "application/octet-stream",
        ...(range ? { "content-range": `bytes ${start}-${end - 1}/${length}` } : {}),
      }, readRange(archive, start, end));
    }
    const file = join(site, normalize(url.pathname === "/" ? "/index.html" : url.pathname));
    if (!file.startsWith(site) || !existsSync(file)) return response.writeHead(404).end();
    response.writeHead(200, { "content-type": TYPES[extname(file)] ?? "application/octet-stream" });
    response.end(readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    sent,
    reset: () => Object.assign(sent, { requests: 0, bytes: 0 }),
    close: () => server.close(),
  };
}
