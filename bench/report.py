"""Prints the benchmark table of bench/run.sh from Google Benchmark's JSON:
each figure is the median of the repetitions, set against a floor (the same
reads with nothing else) or a peer decoder measured in the same run; then
the Python, JavaScript, page and remote reads' figures from their JSON."""

import json
import sys

KINDS = ["text", "table", "noise"]


def main(path, python_path, javascript_path, page_path, remote_path=None):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        b["run_name"] = b["run_name"].split("/iterations:")[0]
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            runs[b["run_name"]] = b
        elif b.get("run_type") == "iteration" and b.get("repetitions", 1) <= 1:
            runs.setdefault(b["run_name"], b)

    def time_ms(name):
        b = runs[name]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        return b["real_time"] * scale

    def rate(name):  # MB/s of output
        return runs[name]["bytes_per_second"] / 1e6

    rows = []

    def against_floor(label, ours_name, floor_name, target, limit):
        ours, floor = time_ms(ours_name), time_ms(floor_name)
        ratio = ours / floor
        rows.append((label, f"{ours:.1f} ms", f"{floor:.1f} ms", ratio, f"<= {limit:.2f}x floor",
                     ratio <= limit))

    against_floor("open, 100k-file archive", "BM_Open", "BM_OpenFloor", "", 1.2)
    ours, floor = time_ms("BM_OpenCold"), time_ms("BM_OpenColdFloor")
    rows.append(("open, pages evicted first", f"{ours:.1f} ms", f"{floor:.1f} ms", ours / floor,
                 "(reported)", None))
    against_floor("get_file, stored, contiguous chains", "BM_Fetch/0", "BM_FetchFloor", "", 0.7)
    against_floor("get_file, stored, scattered chains", "BM_FetchScattered",
                  "BM_FetchScatteredFloor", "", 1.1)
    ours, floor = time_ms("BM_FetchMemory"), time_ms("BM_FetchMemoryFloor")
    rows.append(("get_file, stored, from memory", f"{ours:.1f} ms", f"memcpy {floor:.1f} ms",
                 ours / floor, "<= 2.00x memcpy", ours / floor <= 2))
    ours = time_ms("BM_ReadFileInto")
    rows.append(("read_file into one buffer, from memory", f"{ours:.1f} ms",
                 f"memcpy {floor:.1f} ms", ours / floor, "(reported)", None))
    rows.append(("get_file, compressed", f"{time_ms('BM_Fetch/1'):.1f} ms", "", None, "", None))
    ours, whole = time_ms("BM_OpenOnDemand/1000000"), time_ms("BM_OpenScaling/1000000")
    rows.append(("open on demand, 1,000,000-entry directory", f"{ours * 1e3:.1f} us",
                 f"whole {whole:.1f} ms", ours / whole, "<= 0.01x whole", ours / whole <= 0.01))
    find = runs["BM_FindOnDemand"]
    find_us = time_ms("BM_FindOnDemand") * 1e3
    rows.append(("find on demand, 100k-file archive", f"{find_us:.1f} us",
                 f"{find['node_reads_per_lookup']:.2f} node reads", None, "<= 10 us",
                 find_us <= 10))
    ours, whole = time_ms("BM_GetFileOnDemand"), time_ms("BM_Fetch/0")
    rows.append(("get_file on demand, stored", f"{ours:.1f} ms", f"whole {whole:.1f} ms",
                 ours / whole, "(reported)", None))
    for i, kind in enumerate(KINDS):
        ours, zlib = rate(f"BM_DecompressLrs/{i}"), rate(f"BM_DecompressZlib/{i}")
        lz4, plain = rate(f"BM_DecompressLz4/{i}"), rate(f"BM_DecompressLrsByteAtATime/{i}")
        rows.append((f"LRS decode, {kind}", f"{ours:.0f} MB/s", f"zlib {zlib:.0f} MB/s",
                     ours / zlib, ">= 3.00x zlib", ours / zlib >= 3))
        rows.append((f"LRS decode, {kind}", "", f"lz4 {lz4:.0f} MB/s", ours / lz4,
                     ">= 0.50x lz4", ours / lz4 >= 0.5))
        rows.append((f"LRS decode, {kind}", "", f"byte at a time {plain:.0f} MB/s", ours / plain,
                     "", None))
    unpack = runs["BM_SoundTableUnpack"]
    rows.append(("SoundTable::unpack, 205 kinds",
                 f"{unpack['real_time']:.0f} {unpack['time_unit']}", "", None, "", None))
    resolve = runs["BM_ResolveSound205"]
    rows.append(("resolve_sound", f"{1e9 / resolve['items_per_second']:.1f} ns", "", None, "",
                 None))
    for n in (10_000, 100_000, 1_000_000):
        b = runs[f"BM_OpenScaling/{n}"]
        rows.append((f"open, {n:,}-entry directory", f"{b['ns_per_entry'] * 1e9:.0f} ns/entry",
                     f"{b['heap_bytes_per_entry']:.0f} heap bytes/entry", None, "", None))
    ours, peer = time_ms("BM_DirectoryCraftedIds"), time_ms("BM_DirectoryConsecutiveIds")
    rows.append(("index 100k ids crafted to collide", f"{ours:.1f} ms",
                 f"consecutive ids {peer:.1f} ms", ours / peer, "(reported)", None))
    base = None
    for t in (1, 2, 4):
        r = rate(f"BM_GetFileThreads/real_time/threads:{t}")
        base = base or r
        rows.append((f"get_file, {t} thread{'s' if t > 1 else ''}", f"{r:.0f} MB/s", "",
                     r / base, "x of 1 thread", None))

    native = time_ms("BM_GetFileEveryEntry")
    loops = []
    for loop_path in (python_path, javascript_path, page_path):
        with open(loop_path) as f:
            loops.append(json.load(f))
    python, javascript, page = loops
    for loop, label, limit in ((python, "Python", 1.15), (javascript, "JavaScript", 2.0)):
        ours = loop["median_s"] * 1e3
        rows.append((f"{label} get_file, every file", f"{ours:.0f} ms",
                     f"C++ loop {native:.0f} ms", ours / native, f"<= {limit:.2f}x C++",
                     ours / native <= limit))
    ours, floor = javascript["sparse_open_s"] * 1e3, time_ms("BM_OpenSparse")
    rows.append(("JavaScript open, 3.9 GB file source", f"{ours:.1f} ms", f"native {floor:.1f} ms",
                 ours / floor, "<= 3.00x native", ours / floor <= 3))
    first = javascript["sparse_first_open_s"] * 1e3
    rows.append(("JavaScript open, first in the process", f"{first:.1f} ms", f"native {floor:.1f} ms",
                 first / floor, "(reported)", None))
    rss = javascript["rss_after_sparse_bytes"] / 2**20
    rows.append(("JavaScript reading all of it, resident", f"{rss:.0f} MiB", "", None,
                 "< 150 MiB", rss < 150))
    growth = javascript["memory_growth_bytes"] / 2**20
    rows.append(("JavaScript array in place, memory growth", f"{growth:.1f} MiB", "", None,
                 "< 32 MiB", growth < 32))
    rows.append(("page ready, sound table over HTTP", f"{page['requests_before_ready']} requests",
                 f"{page['bytes_before_ready'] / 2**20:.2f} MiB", None, "<= 16, <= 2 MiB",
                 page["requests_before_ready"] <= 16 and page["bytes_before_ready"] <= 2 << 20))
    rows.append(("page listing too, over HTTP", f"{page['requests_listing']} requests",
                 f"{page['bytes_listing'] / 2**20:.2f} MiB", None, "(reported)", None))
    rows.append(("page lists 100k files chosen", f"{page['complete_ms']:.0f} ms", "", None,
                 "<= 5000 ms", page["complete_ms"] <= 5000))
    rows.append(("page's longest main-thread stall", f"{page['longest_stall_ms']:.0f} ms", "", None,
                 "< 100 ms", page["longest_stall_ms"] < 100))

    if remote_path:
        with open(remote_path) as f:
            remote_rows(rows, json.load(f))

    header = ("figure", "ours", "floor or peer", "ratio", "target")
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in (0, 1, 2, 4)]
    print(f"| {header[0]:<{widths[0]}} | {header[1]:<{widths[1]}} | {header[2]:<{widths[2]}} "
          f"| ratio | {header[4]:<{widths[3]}} | met |")
    print(f"|{'-' * (widths[0] + 2)}|{'-' * (widths[1] + 2)}|{'-' * (widths[2] + 2)}|-------|"
          f"{'-' * (widths[3] + 2)}|-----|")
    for name, ours, other, ratio, target, met in rows:
        ratio_text = f"{ratio:.2f}" if ratio is not None else ""
        met_text = "" if met is None else ("yes" if met else "NO")
        print(f"| {name:<{widths[0]}} | {ours:<{widths[1]}} | {other:<{widths[2]}} "
              f"| {ratio_text:>5} | {target:<{widths[3]}} | {met_text:<3} |")


def remote_rows(rows, remote):
    """The remote reads of bench/remote_bench.mjs, in round trips of its
    server's delay against the floor of reading only the blocks they need
    (a ratio under 1: the reader read ahead, and E says at what cost in
    bytes); the rows its module could not run are absent."""
    r = remote["rows"]
    per_file = remote["archive"]["one_by_one"]
    least = remote["floor"]["one_by_one_least_rt_per_file"]

    def trips(label, key, files=1, target=None):
        if key not in r:
            return
        row = r[key]
        ours, floor = row["round_trips"] / files, row["floor_rt"] / files
        digits = 2 if files > 1 else 1
        other = f"floor {floor:.{digits}f} RT" + (f" (least {least:.2f})" if files > 1 else "")
        rows.append((label, f"{ours:.{digits}f} RT, {row['requests']} requests, {row['bytes'] / 2**20:.2f} MiB",
                     other, ours / floor,
                     "(reported)" if target is None else f"<= {target} RT",
                     None if target is None else ours <= target))

    trips("remote, 200 files at once, node (A)", "A", target=15)
    b = r["B"]
    trips(f"remote, 200 at once, page, whole directory (B, {b['api']})", "B", target=50)
    trips("remote, 200 at once, page, on demand (B0, getFile each)", "B0")
    trips("remote, 60 one by one, node, a file (C)", "C", per_file, target=1.5)
    trips("remote, 60 one by one, page, a file (C0)", "C0", per_file)
    trips("remote, open on demand and a file, node (D)", "D", target=5)
    if "E" in r:
        ours, floor = r["E"]["bytes"] / 2**20, r["E"]["floor_bytes"] / 2**20
        rows.append(("remote, bytes for the 200 (E)", f"{ours:.2f} MiB", f"blocks {floor:.2f} MiB",
                     ours / floor, "<= 3.00x blocks", ours / floor <= 3))
    for key, label in (("A_blob", "200 at once"), ("C_blob", "60 one by one, open too"),
                       ("D_blob", "open on demand and a file")):
        if key in r:
            blob = r[key]
            rows.append((f"Blob, contiguous chains, {label}", f"{blob['wall_ms']:.1f} ms",
                         f"{blob['requests']} reads, {blob['bytes'] / 2**20:.2f} MiB", None, "(reported)", None))


if __name__ == "__main__":
    main(*sys.argv[1:])
