// A misuse that must not type-check: a remote archive used before it is awaited.
import { openInWorker } from "brackwater-dat";

export function misuse(url: string): number {
  return openInWorker(url).header.blockSize;
}
