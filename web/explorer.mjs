// The archive explorer: opens an archive given as a file, a drop or
// ?archive=URL, and shows its header, its files, a file's first bytes and a
// sound table's kinds, through the brackwater_dat module.
import { load } from "./brackwater_dat.mjs";

// Rows are added a batch at a time, so a large archive's table fills in
// without freezing the page.
const BATCH = 2000;
const $ = (id) => document.getElementById(id);
const hex = (value, digits) => "0x" + (value >>> 0).toString(16).toUpperCase().padStart(digits, "0");

let bw;
let archive = null;
let entries = [];
let rendering = 0;  // the latest rendering of the file table; older ones stop

function setStatus(text, isError = false) {
  $("status").textContent = text;
  $("status").classList.toggle("error", isError);
}

function cell(row, text) {
  row.insertCell().textContent = text;
}

function showHeader(header) {
  const body = $("header").tBodies[0];
  body.replaceChildren();
  for (const [name, value] of Object.entries(header)) {
    const row = body.insertRow();
    cell(row, name);
    cell(row, value instanceof Uint8Array
      ? Array.from(value, (b) => b.toString(16).padStart(2, "0")).join(" ")
      : hex(value, 8) + " (" + value + ")");
  }
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

async function showFiles() {
  const generation = ++rendering;
  const type = $("type-filter").value;
  const search = $("id-search").value.trim().toUpperCase().replace(/^0X/, "");
  const matching = entries.filter((e) =>
    (type === "" || e.type === Number(type)) &&
    (search === "" || hex(e.id, 8).slice(2).includes(search)));
  const body = $("file-table").tBodies[0];
  body.replaceChildren();
  $("shown").textContent = `${matching.length} of ${entries.length}`;
  for (let at = 0; at < matching.length; at += BATCH) {
    if (at > 0) await new Promise((resolve) => setTimeout(resolve, 0));
    if (generation !== rendering) return;
    const rows = document.createDocumentFragment();
    for (const entry of matching.slice(at, at + BATCH)) {
      const row = document.createElement("tr");
      row.dataset.id = hex(entry.id, 8);
      cell(row, hex(entry.id, 8));
      cell(row, hex(entry.type, 2));
      cell(row, entry.compressed ? "yes" : "no");
      cell(row, entry.size);
      rows.append(row);
    }
    body.append(rows);
  }
}

function showFile(id) {
  for (const row of $("file-table").querySelectorAll("tr.selected")) row.classList.remove("selected");
  $("file-table").querySelector(`tr[data-id="${hex(id, 8)}"]`)?.classList.add("selected");
  $("detail").hidden = false;
  $("detail-title").textContent = "File " + hex(id, 8);
  $("sound").hidden = true;
  let bytes;
  try {
    bytes = archive.getFile(id);
  } catch (error) {
    $("detail-size").textContent = error.message;
    $("hex").textContent = "";
    return;
  }
  const entry = entries.find((e) => e.id === id);
  const sizes = entry && entry.compressed
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
  if (entry?.type === 0x20) showSoundTable(bytes);
}

function showSoundTable(bytes) {
  let table;
  try {
    table = bw.SoundTable.unpack(bytes);
  } catch (error) {
    $("sound").hidden = false;
    $("sound-summary").textContent = "not a sound table: " + error.message;
    $("sound-table").tBodies[0].replaceChildren();
    return;
  }
  $("sound").hidden = false;
  $("sound-summary").textContent =
    `table ${hex(table.id, 8)}, hash key ${table.hashKey}, ${table.hashCount} hash keys, ${table.sounds.size} kinds`;
  const body = $("sound-table").tBodies[0];
  body.replaceChildren();
  for (const [kind, sound] of [...table.sounds].sort((a, b) => a[0] - b[0])) {
    const wave = table.resolveSound(kind);
    const row = body.insertRow();
    row.dataset.kind = hex(kind, 2);
    row.dataset.wave = wave === null ? "none" : hex(wave, 8);
    cell(row, hex(kind, 2));
    cell(row, row.dataset.wave);
    cell(row, sound.entries.map((e) =>
      `${hex(e.waveDid, 8)} ${e.priority} ${e.probability} ${e.volume}`).join("; ") || "(none)");
    cell(row, sound.unknown);
  }
}

async function open(bytes, name) {
  archive?.close();
  archive = null;
  entries = [];
  $("archive-name").textContent = name;
  $("summary").hidden = $("files").hidden = $("detail").hidden = $("header-note").hidden = true;
  try {
    archive = bw.openArchive(bytes);
  } catch (error) {
    setStatus(error.message, true);
    return;
  }
  entries = archive.entries();
  showHeader(archive.header);
  // Opening reads any header; the page still shows what it read, and says
  // when that does not look like an archive's.
  const problems = archive.headerProblems();
  $("header-note").textContent = "This does not look like an archive: " + problems.join("; ");
  $("header-note").hidden = problems.length === 0;
  $("summary").hidden = $("files").hidden = false;
  document.title = `${name} — DAT archive explorer`;
  await showFiles();
  setStatus("ready");
}

async function openUrl(url) {
  setStatus("loading " + url);
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot fetch ${url}: ${response.status} ${response.statusText}`);
  await open(new Uint8Array(await response.arrayBuffer()), url);
}

async function openFile(file) {
  setStatus("reading " + file.name);
  await open(new Uint8Array(await file.arrayBuffer()), file.name);
}

async function main() {
  bw = await load();
  $("file").addEventListener("change", (event) => {
    if (event.target.files[0]) openFile(event.target.files[0]).catch((e) => setStatus(e.message, true));
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
    if (file) openFile(file).catch((e) => setStatus(e.message, true));
  });
  $("type-filter").addEventListener("change", showFiles);
  $("id-search").addEventListener("input", showFiles);
  $("file-table").addEventListener("click", (event) => {
    const row = event.target.closest("tr[data-id]");
    if (row) showFile(Number(row.dataset.id));
  });
  setStatus("no archive open");

  const params = new URLSearchParams(location.search);
  if (params.has("archive")) {
    await openUrl(params.get("archive"));
    const sound = params.get("sound");
    if (archive && sound) {
      const id = Number(sound);
      if (Number.isInteger(id) && id >= 0 && id <= 0xFFFFFFFF) {
        showFile(id);
      } else {
        setStatus(`sound=${sound} is not a file id`, true);
      }
    }
  }
}

main().catch((error) => setStatus(error.message, true));
