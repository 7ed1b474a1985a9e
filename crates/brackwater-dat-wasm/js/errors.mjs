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
