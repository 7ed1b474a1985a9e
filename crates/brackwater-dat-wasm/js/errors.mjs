// A failure of the reader: `message` is one line for people, `debugText` the
// library's full form, `code` the library's name of its kind ("NotFound",
// "Io", "Corruption", ..., one per variant of its error), `notFound` whether
// an id is not in the archive.
export class DatError extends Error {
  // The third argument is the code, or (as it once was) whether an id was not found.
  constructor(message, debugText, code = "Other") {
    super(message);
    this.name = "DatError";
    this.debugText = debugText;
    this.code = typeof code === "boolean" ? (code ? "NotFound" : "Other") : code;
    this.notFound = this.code === "NotFound";
  }
}

// What a source or a request threw, as the caller sees it: a DatError as it
// is; anything else an Io failure with the thrown error's message, its name
// and message as the debug text.
export function asDatError(error) {
  if (error instanceof DatError) return error;
  const message = String(error?.message ?? error);
  return new DatError(message, `${error?.name ?? "Error"}: ${message}`, "Io");
}
