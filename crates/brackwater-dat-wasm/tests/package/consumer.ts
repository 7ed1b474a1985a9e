// Uses every part of the package's API, as a TypeScript project would; it
// must type-check under --strict.
import { DatError, load, openInWorker } from "brackwater-dat";
import type { Archive, BrackwaterDat, DatFileEntry, DatHeader, RemoteArchive, SoundData, Source } from "brackwater-dat";

export async function useEverything(bytes: Uint8Array, blob: Blob): Promise<number> {
  const bw: BrackwaterDat = await load();
  const source: Source = { length: bytes.length, read: (offset, target) => target.length };
  const archive: Archive = bw.openArchive(source, { onDemand: true });
  const header: Readonly<DatHeader> = archive.header;
  const entries: DatFileEntry[] = archive.entries();
  const entry: DatFileEntry = archive.find(entries[0].id);
  const files: number = archive.size + (archive.has(entry.id) ? 1 : 0) + archive.headerProblems().length;
  const data: Uint8Array = archive.getFile(0x20000001);
  const into: number = archive.readFileInto(0x20000001, new Uint8Array(data.length));
  const stored: Uint8Array = archive.readFileData(entry.offset, entry.size);
  const table = bw.SoundTable.unpack(data);
  const wave: number | null = table.resolveSound(0x58);
  const sound: SoundData | undefined = table.sounds.get(0x58);
  archive.close();
  const file = bw.fileSource("client_portal.dat");
  bw.openArchive(file).close();
  file.close();
  bw.openArchive(bytes).close();
  bw.blobSource(blob, { chunkSize: 65536 });
  bw.httpSource(new URL("https://example.org/a.dat"), { cacheBytes: 1 << 26, maxFetch: 1 << 22 });
  const decoded: Uint8Array = bw.decompressLrs(stored);
  const remote: RemoteArchive = await openInWorker(blob, { onDemand: false });
  const remoteEntries: DatFileEntry[] = await remote.entries();
  const remoteFile: Uint8Array = await remote.getFile((await remote.find(0x20000001)).id);
  const count: number = await remote.size();
  const present: boolean = await remote.has(1);
  await remote.readFileData(0x400, 16);
  await remote.close();
  try {
    archive.getFile(1);
  } catch (error) {
    if (error instanceof DatError && error.notFound) return -1;
  }
  return header.blockSize + files + into + (wave ?? 0) + (sound?.unknown ?? 0) + decoded.length +
         remoteEntries.length + remoteFile.length + count + (present ? 1 : 0) + bw.memoryBytes +
         (remote.note ?? "").length;
}
