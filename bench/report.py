"""Prints the benchmark table of bench/run.sh from Google Benchmark's JSON."""

import json
import sys

KINDS = ["text", "table", "noise"]


def main(path):
    with open(path) as f:
        data = json.load(f)
    runs = {b["name"]: b for b in data["benchmarks"] if b.get("run_type") == "iteration"}

    def time_ms(name):
        b = runs[name]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        return b["real_time"] * scale

    def rate(name):  # MB/s of output
        return runs[name]["bytes_per_second"] / 1e6

    rows = []
    ours, floor = time_ms("BM_Open"), time_ms("BM_OpenFloor")
    rows.append(("open 100k-file archive", f"{ours:.1f} ms", f"{floor:.1f} ms (reads only)",
                 ours / floor, "<= 2.00"))
    ours, floor = time_ms("BM_Fetch/0"), time_ms("BM_FetchFloor")
    rows.append(("get_file, every stored file", f"{ours:.1f} ms", f"{floor:.1f} ms (reads only)",
                 ours / floor, "<= 1.15"))
    rows.append(("get_file, every compressed file", f"{time_ms('BM_Fetch/1'):.1f} ms", "", None, ""))
    for i, kind in enumerate(KINDS):
        ours, zlib = rate(f"BM_DecompressLrs/{i}"), rate(f"BM_DecompressZlib/{i}")
        lz4, plain = rate(f"BM_DecompressLz4/{i}"), rate(f"BM_DecompressLrsByteAtATime/{i}")
        rows.append((f"decompress {kind}", f"{ours:.0f} MB/s", f"zlib {zlib:.0f} MB/s", ours / zlib,
                     ">= 2.00"))
        rows.append((f"  (peers, {kind})", "", f"lz4 {lz4:.0f}, byte-at-a-time {plain:.0f} MB/s",
                     ours / lz4, "lz4 ceiling"))
    unpack = runs["BM_SoundTableUnpack"]
    rows.append(("SoundTable::unpack, 205 kinds", f"{unpack['real_time']:.0f} {unpack['time_unit']}",
                 "", None, ""))
    resolve = runs["BM_ResolveSound205"]
    rows.append(("resolve_sound", f"{1e9 / resolve['items_per_second']:.1f} ns", "", None, ""))
    for n in (10_000, 100_000, 1_000_000):
        b = runs[f"BM_OpenScaling/{n}"]
        rows.append((f"open {n:,}-entry directory",
                     f"{b['ns_per_entry'] * 1e9:.0f} ns/entry",
                     f"{b['heap_bytes_per_entry']:.0f} heap bytes/entry", None, ""))
    base = None
    for t in (1, 2, 4):
        name = f"BM_GetFileThreads/real_time/threads:{t}"
        r = rate(name)
        base = base or r
        rows.append((f"get_file, {t} thread{'s' if t > 1 else ''}", f"{r:.0f} MB/s", "",
                     r / base, "x of 1 thread"))

    widths = [max(len(str(r[i])) for r in rows) for i in (0, 1, 2)]
    header = ("benchmark", "ours", "floor or peer", "ratio", "target")
    print(f"| {header[0]:<{widths[0]}} | {header[1]:<{widths[1]}} | {header[2]:<{widths[2]}} "
          f"| ratio | target |")
    print(f"|{'-' * (widths[0] + 2)}|{'-' * (widths[1] + 2)}|{'-' * (widths[2] + 2)}|-------|--------|")
    for name, ours, other, ratio, target in rows:
        ratio_text = f"{ratio:.2f}" if ratio is not None else ""
        print(f"| {name:<{widths[0]}} | {ours:<{widths[1]}} | {other:<{widths[2]}} "
              f"| {ratio_text:>5} | {target} |")


if __name__ == "__main__":
    main(sys.argv[1])
