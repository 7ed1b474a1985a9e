// A misuse that must not type-check: an id given as text.
import { load } from "brackwater-dat";

export async function misuse(bytes: Uint8Array): Promise<Uint8Array> {
  const bw = await load();
  return bw.openArchive(bytes).getFile("0x20000001");
}
