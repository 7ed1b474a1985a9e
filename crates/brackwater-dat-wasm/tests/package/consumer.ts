// Uses every part of the package's API, as a TypeScript project would; it
// must type-check under --strict.
import { DatError, load, openInWorker } from "brackwater-dat";
import type { Archive, AsyncArchive, AsyncSource, BrackwaterDat, DatFileEntry, DatHeader, FetchSource, RemoteArchive,
              SoundData, Source } from "brackwater-dat";

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
  const remoteFiles: Uint8Array[] = await remote.getFiles([1, 2]);
  await remote.close();
  const fetched: FetchSource = bw.fetchSource("https://example.org/a.dat", {
    cacheBytes: 1 << 26, maxFetch: 1 << 22, concurrency: 32, timeoutMs: 5000, headers: { Authorization: "x" } });
  const own: AsyncSource = { length: bytes.length, read: async (offset, length) => bytes.subarray(offset, offset + length) };
  const opened: AsyncArchive[] = await Promise.all([fetched, own, blob, bytes].map((input) =>
    bw.openArchiveAsync(input, { onDemand: true })));
  const async0: AsyncArchive = opened[0];
  const many: Uint8Array[] = await async0.getFiles([1, 2], { strict: true });
  const asyncCount: number = (await async0.size()) + (await async0.entries()).length +
    (await async0.find(1)).size + ((await async0.has(1)) ? 1 : 0) + async0.headerProblems().length +
    (await async0.readFileInto(1, new Uint8Array(8))) + (await async0.readFileData(0x400, 4)).length +
    (await async0.getFile(1)).length + (async0.note ?? "").length + async0.header.blockSize + (async0.onDemand ? 1 : 0);
  await async0.close();
  try {
    archive.getFile(1);
  } catch (error) {
    if (error instanceof DatError && error.notFound) return -1;
  }
  return header.blockSize + files + into + (wave ?? 0) + (sound?.unknown ?? 0) + decoded.length +
         remoteEntries.length + remoteFile.length + count + (present ? 1 : 0) + bw.memoryBytes +
         (remote.note ?? "").length + remoteFiles.length + many.length + asyncCount + fetched.url.length;
}
