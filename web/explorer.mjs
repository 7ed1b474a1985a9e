// The archive explorer: opens an archive given as a file, a drop or
// ?archive=URL in a worker, reading only what it shows, and shows its header,
// its files, a file's first bytes and a sound table's kinds. The file table
// renders only the rows in view, so that a million files scroll as a
// hundred do.
import { load, openInWorker } from "./brackwater_dat.mjs";

const $ = (id) => document.getElementById(id);
const hex = (value, digits) => "0x" + (value >>> 0).toString(16).toUpperCase().padStart(digits, "0");
// Rows of the file table, each this tall (the stylesheet says so too), and
// how many are rendered beyond the view on either side.
const ROW_HEIGHT = 22;
const OVERSCAN = 10;

let bw;             // the module on this thread: it decodes sound tables
let remote = null;  // the open archive, in its worker
let opened = null;  // what it was opened from: { input, name, notes }
let opening = 0;    // the latest archive asked for; older openings stop
let showing = 0;    // the latest file asked for; older files do not render
let entries = [];
let matching = [];
let selected = null;

// The status, and a performance mark "status" with it as its detail: the
// page goes on reading after it is ready (the listing, a table's waves), so
// when it became so is kept apart.
function setStatus(text, isError = false) {
  $("status").textContent = text;
  $("status").classList.toggle("error", isError);
  performance.mark("status", { detail: text });
}

function cell(row, text) {
  row.insertCell().textContent = text;
}

// The shortest text that reads back as the same 32-bit float, as the tool
// writes floats: 0.1, not the 0.10000000149011612 its double shows.
function floatText(value) {
  if (Number.isNaN(value)) return "nan";
  if (!Number.isFinite(value)) return value < 0 ? "-inf" : "inf";
  if (Object.is(value, -0)) return "-0";
  // Nine significant digits read back as any 32-bit float: no more are tried.
  for (let digits = 1; digits <= 9; ++digits) {
    const text = String(Number(value.toPrecision(digits)));
    if (Math.fround(Number(text)) === value) return text;
  }
  return String(value);  // not a 32-bit float
}

function showHeader(header, problems) {
  const body = $("header").tBodies[0];
  body.replaceChildren();
  for (const [name, value] of Object.entries(header)) {
    const row = body.insertRow();
    cell(row, name);
    cell(row, value instanceof Uint8Array
      ? Array.from(value, (b) => b.toString(16).padStart(2, "0")).join(" ")
      : hex(value, 8) + " (" + value + ")");
  }
  $("header-note").hidden = problems.length === 0;
  $("header-note").textContent =
    "This does not look like an archive's header: " + problems.join("; ") + ". It is shown as read.";
  $("summary").hidden = false;
}

function showTypes() {
  const counts = new Map();
  for (const entry of entries) counts.set(entry.type, (counts.get(entry.type) ?? 0) + 1);
  const types = $("types").tBodies[0];
  types.replaceChildren();
  const filter = $("type-filter");
  filter.replaceChildren(new Option("all", ""));
  for (const [type, count] of [...counts].sort((a, b) => a[0] - b[0])) {
    const row = types.insertRow();
    cell(row, hex(type, 2));
    cell(row, count);
    filter.add(new Option(hex(type, 2), String(type)));
  }
}

// ---- the file table: only the rows in view are in the document ----

function spacer(height) {
  const row = document.createElement("tr");
  row.className = "spacer";
  const filler = row.insertCell();
  filler.colSpan = 4;
  filler.style.height = `${height}px`;
  return row;
}

function renderRows() {
  const scroller = $("file-scroller");
  const first = Math.max(0, Math.floor(scroller.scrollTop / ROW_HEIGHT) - OVERSCAN);
  const last = Math.min(matching.length,
                        Math.ceil((scroller.scrollTop + scroller.clientHeight) / ROW_HEIGHT) + OVERSCAN);
  const rows = [spacer(first * ROW_HEIGHT)];
  for (let i = first; i < last; ++i) {
    const entry = matching[i];
    const row = document.createElement("tr");
    row.dataset.id = hex(entry.id, 8);
    if (entry.id === selected) row.className = "selected";
    cell(row, hex(entry.id, 8));
    cell(row, hex(entry.type, 2));
    cell(row, entry.compressed ? "yes" : "no");
    cell(row, entry.size);
    rows.push(row);
  }
  rows.push(spacer(Math.max(0, matching.length - last) * ROW_HEIGHT));
  $("file-table").tBodies[0].replaceChildren(...rows);
}

function applyFilters() {
  const type = $("type-filter").value;
  const search = $("id-search").value.trim().toUpperCase().replace(/^0X/, "");
  matching = type === "" && search === "" ? entries : entries.filter((e) =>
    (type === "" || e.type === Number(type)) &&
    (search === "" || hex(e.id, 8).slice(2).includes(search)));
  const table = $("file-table");
  table.dataset.shown = String(matching.length);
  $("shown").textContent = `${matching.length} of ${entries.length}`;
  // An exact id brings its row into view.
  const exact = /^[0-9A-F]{8}$/.test(search)
    ? matching.findIndex((e) => e.id === Number.parseInt(search, 16)) : -1;
  const scroller = $("file-scroller");
  scroller.scrollTop = exact < 0 ? 0 : Math.max(0, exact * ROW_HEIGHT - scroller.clientHeight / 2);
  renderRows();
}

// ---- a file, and a sound table ----

function showName() {
  const { name, notes } = opened;
  $("archive-name").textContent = notes.length > 0 ? `${name} (${notes.join("; ")})` : name;
}

// A lookup on demand trusts the directory to be a search tree, and refuses
// one whose node on its way is out of order; read whole, the same archive
// reads fine. Reopens it so, says so, and returns whether it did.
async function readWhole(archive, error) {
  if (!archive.onDemand || error?.code !== "Corruption" || !/directory node at /.test(error.message)) return false;
  const whole = await openInWorker(opened.input, { onDemand: false }).catch(() => null);
  if (whole === null || remote !== archive) {
    whole?.close().catch(() => {});
    return false;
  }
  remote = whole;
  archive.close().catch(() => {});
  opened.notes.push(`the directory is not a search tree (${error.message}): read whole`);
  showName();
  return true;
}

// Shows file `id`, unless another is asked for before it is read. Returns
// the error it could not be read for, shown in its place; null otherwise.
async function showFile(id) {
  const generation = ++showing;
  const archive = remote;
  selected = id;
  renderRows();
  $("detail").hidden = false;
  $("detail-title").textContent = "File " + hex(id, 8);
  $("detail-size").textContent = "reading…";
  $("hex").textContent = "";
  $("sound").hidden = true;
  delete $("wave-table").dataset.state;
  let entry, bytes;
  try {
    entry = await archive.find(id);
    if (generation !== showing) return null;
    bytes = await archive.getFile(id);
  } catch (error) {
    if (generation !== showing) return null;
    if (await readWhole(archive, error)) return generation === showing ? showFile(id) : null;
    $("detail-size").textContent = error.message;
    return error;
  }
  if (generation !== showing) return null;
  const sizes = entry.compressed
    ? `stored ${entry.size} bytes, decompressed ${bytes.length} bytes`
    : `${bytes.length} bytes`;
  $("detail-size").textContent = sizes + (bytes.length > 256 ? ", the first 256:" : ":");
  const lines = [];
  for (let at = 0; at < Math.min(bytes.length, 256); at += 16) {
    const part = bytes.subarray(at, at + 16);
    lines.push(at.toString(16).padStart(4, "0") + "  " +
      Array.from(part, (b) => b.toString(16).padStart(2, "0")).join(" ").padEnd(48) + "  " +
      Array.from(part, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : ".")).join(""));
  }
  $("hex").textContent = lines.join("\n");
  if (entry.type === 0x20) showSoundTable(bytes, generation);
  return null;
}

function showSoundTable(bytes, generation) {
  $("sound").hidden = false;
  const body = $("sound-table").tBodies[0];
  body.replaceChildren();
  let table;
  try {
    table = bw.SoundTable.unpack(bytes);
  } catch (error) {
    $("sound-summary").textContent = "not a sound table: " + error.message;
    return;
  }
  $("sound-summary").textContent =
    `table ${hex(table.id, 8)}, hash key ${table.hashKey}, ${table.hashCount} hash keys, ${table.sounds.size} kinds`;
  for (const [kind, sound] of [...table.sounds].sort((a, b) => a[0] - b[0])) {
    const wave = table.resolveSound(kind);
    const row = body.insertRow();
    row.dataset.kind = hex(kind, 2);
    row.dataset.wave = wave === null ? "none" : hex(wave, 8);
    cell(row, hex(kind, 2));
    cell(row, row.dataset.wave);
    cell(row, sound.entries.map((e) =>
      `${hex(e.waveDid, 8)} ${floatText(e.priority)} ${floatText(e.probability)} ${floatText(e.volume)}`)
      .join("; ") || "(none)");
    cell(row, sound.unknown);
  }
  showWaves([...new Set([...table.sounds.values()].flatMap((sound) => sound.entries.map((e) => e.waveDid)))]
    .sort((a, b) => a - b), generation);
}

// The waves a table names, with their sizes: asked for all at once, so that
// their lookups and reads are fetched together.
async function showWaves(waves, generation) {
  const archive = remote;
  const body = $("wave-table").tBodies[0];
  body.replaceChildren();
  $("wave-summary").textContent = `${waves.length} waves, reading…`;
  const read = await Promise.allSettled(waves.map((wave) => archive.getFile(wave)));
  if (generation !== showing) return;
  const refused = read.find(({ status }) => status === "rejected")?.reason;
  if (await readWhole(archive, refused)) {
    if (generation === showing) showWaves(waves, generation);
    return;
  }
  let present = 0;
  waves.forEach((wave, i) => {
    const row = body.insertRow();
    row.dataset.wave = hex(wave, 8);
    const { status, value, reason } = read[i];
    row.dataset.size = status === "fulfilled" ? String(value.length) : "none";
    present += status === "fulfilled" ? 1 : 0;
    cell(row, hex(wave, 8));
    cell(row, status === "fulfilled" ? `${value.length} bytes` : reason.message);
  });
  $("wave-summary").textContent = `${waves.length} waves, ${present} in the archive`;
  $("wave-table").dataset.state = "complete";
}

// ---- opening ----

// Opens `input` (a File, or a URL) in a worker. With a sound table to show,
// the directory is read on demand: the header and the table come first, the
// listing after them.
async function openArchive(input, name, soundId = null) {
  const generation = ++opening;
  ++showing;  // a file of the archive before does not render
  const previous = remote;
  remote = null;
  previous?.close().catch(() => {});
  entries = matching = [];
  selected = null;
  $("summary").hidden = $("files").hidden = $("detail").hidden = true;
  $("archive-name").textContent = name;
  const table = $("file-table");
  Object.assign(table.dataset, { state: "loading", total: "0", shown: "0" });
  setStatus("opening…");
  let archive;
  try {
    archive = await openInWorker(input, { onDemand: soundId !== null });
  } catch (error) {
    if (generation === opening) setStatus(error.message, true);
    return;
  }
  if (generation !== opening) {
    archive.close().catch(() => {});
    return;
  }
  remote = archive;
  opened = { input, name, notes: archive.note ? [archive.note] : [] };
  document.title = `${name} — DAT archive explorer`;
  showHeader(remote.header, remote.headerProblems);
  showName();
  // The table asked for that cannot be read is the page's failure, said
  // where every other is; the listing still follows.
  const failure = soundId === null ? null : await showFile(soundId);
  if (generation !== opening) return;
  if (failure) setStatus(`sound=${hex(soundId, 8)}: ${failure.message}`, true);
  else setStatus("ready");
  $("files").hidden = false;
  renderRows();
  try {
    entries = await remote.entries();
  } catch (error) {
    if (generation === opening) setStatus(error.message, true);
    return;
  }
  if (generation !== opening) return;
  showTypes();
  table.dataset.total = String(entries.length);
  applyFilters();
  table.dataset.state = "complete";
}

async function main() {
  bw = await load();
  $("file").addEventListener("change", (event) => {
    const file = event.target.files[0];
    if (file) openArchive(file, file.name);
  });
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    document.body.classList.add("dragging");
  });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    document.body.classList.remove("dragging");
    const file = event.dataTransfer.files[0];
    if (file) openArchive(file, file.name);
  });
  $("type-filter").addEventListener("change", applyFilters);
  $("id-search").addEventListener("input", applyFilters);
  $("file-scroller").addEventListener("scroll", () => requestAnimationFrame(renderRows));
  $("file-table").addEventListener("click", (event) => {
    const row = event.target.closest("tr[data-id]");
    if (row) showFile(Number(row.dataset.id));
  });
  setStatus("no archive open");

  const params = new URLSearchParams(location.search);
  if (params.has("archive")) {
    const sound = params.get("sound");
    const soundId = sound === null ? null : Number(sound);
    if (soundId !== null && !(Number.isInteger(soundId) && soundId >= 0 && soundId <= 0xFFFFFFFF)) {
      setStatus(`sound=${sound} is not a file id`, true);
      return;
    }
    const url = new URL(params.get("archive"), location.href).href;
    await openArchive(url, params.get("archive"), soundId);
  }
}

main().catch((error) => setStatus(error.message, true));
