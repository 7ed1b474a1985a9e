// Arguments checked as the library takes them, and records read out of the
// module's memory where its layout says their fields lie.

export function checkU32(value, what) {
  if (typeof value !== "number" || !Number.isInteger(value)) {
    throw new TypeError(`${what} must be an integer, not ${typeof value === "number" ? value : typeof value}`);
  }
  if (value < 0 || value > 0xFFFFFFFF) throw new RangeError(`${what} must be in 0..0xFFFFFFFF, not ${value}`);
  return value >>> 0;
}

export function checkBytes(value, what) {
  if (!(value instanceof Uint8Array)) throw new TypeError(`${what} must be a Uint8Array`);
  return value;
}

// Readers of the field kinds that the module's layout names.
const FIELD_READERS = {
  u32: (view, at) => view.getUint32(at, true),
  u8: (view, at) => view.getUint8(at),
  bool: (view, at) => view.getUint8(at) !== 0,
  f32: (view, at) => view.getFloat32(at, true),
  bytes16: (view, at) => new Uint8Array(view.buffer, at, 16).slice(),
};

// A record at `at` as a plain object, its fields where `layout` says they lie.
export function readRecord(view, at, layout) {
  const record = {};
  for (const [name, offset, kind] of layout.fields) record[name] = FIELD_READERS[kind](view, at + offset);
  return record;
}

