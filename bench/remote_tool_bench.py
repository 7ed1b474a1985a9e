"""The tool over a URL against the same archive on disk: a loopback server
that waits 40 ms before each answer stands in for a content host far away.

    remote_tool_bench.py TOOL ARCHIVE [OUT.json] [--runs N]

For each command: the median wall time of N runs from the URL and from the
file, the round trips the URL costs beyond the file ((url - file) / 40 ms;
process start and the work itself are in both), the requests and bytes the
server sent, and the process's peak resident memory. Files extracted go to /dev/shm where there is one."""

import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

DELAY_MS = 40
SERVER = pathlib.Path(__file__).parents[1] / "crates/brackwater-dat-http/tests/range_server.py"


def timed(argv):
    """Wall seconds and peak resident KiB of one run."""
    start = time.monotonic()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit(f"{argv} failed ({status})")
    return time.monotonic() - start, usage.ru_maxrss


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
    args = [a for a in args if a != str(runs)]
    tool, archive = args[0], args[1]
    out = args[2] if len(args) > 2 else None
    # Extracted files go to memory where it can: the disk's own delays (a
    # folder of thousands of files just removed) are not the network's.
    memory = "/dev/shm" if os.path.isdir("/dev/shm") else None
    work = pathlib.Path(tempfile.mkdtemp(prefix="remote-bench-", dir=memory))
    served = work / "served"
    served.mkdir()
    os.symlink(os.path.abspath(archive), served / "a.dat")
    port_file = work / "port"
    server = subprocess.Popen([sys.executable, str(SERVER), str(served), "--delay-ms",
                               str(DELAY_MS), "--port-file", str(port_file)],
                              stdout=subprocess.DEVNULL)
    try:
        while not port_file.exists():
            time.sleep(0.05)
        base = f"http://127.0.0.1:{port_file.read_text()}"
        rows = measure(tool, str(served / "a.dat"), base, work, runs)
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)
    print(f"{'command':<34}{'file s':>8}{'URL s':>8}{'RT':>7}{'requests':>10}{'KiB':>9}"
          f"{'peak MB':>9}")
    for row in rows:
        print(f"{row['command']:<34}{row['file_s']:>8.3f}{row['url_s']:>8.3f}"
              f"{row['round_trips']:>7.1f}{row['requests']:>10}{row['kib']:>9.0f}"
              f"{row['peak_mb']:>9.1f}")
    if out:
        pathlib.Path(out).write_text(json.dumps(rows, indent=1))


def control(base, path):
    with urllib.request.urlopen(base + path) as answer:
        return json.load(answer)


def measure(tool, local, base, work, runs):
    url = base + "/a.dat"
    commands = [("sound URL 0x20000001", ["sound", "{}", "0x20000001"]),
                # Files of about 8 KB: in adjacent blocks, and in blocks laid out in reverse.
                ("cat URL 0x0A000491", ["cat", "{}", "0x0A000491"]),
                ("cat URL 0x0A0004E2 (scattered)", ["cat", "{}", "0x0A0004E2"]),
                ("extract URL DIR --type 06", ["extract", "{}", "DIR", "--type", "06",
                                               "--no-progress"])]
    rows = []
    for name, words in commands:
        walls = {"file": [], "url": []}
        peaks, requests, sent = [], [], []
        for run in range(runs):
            for where, archive in (("file", local), ("url", url)):
                folder = work / f"{where}-{name.split()[0]}-{run}"
                argv = [tool] + [archive if w == "{}" else str(folder) if w == "DIR" else w
                                 for w in words]
                control(base, "/_reset")
                wall, peak = timed(argv)
                walls[where].append(wall)
                if where == "url":
                    stats = control(base, "/_stats")
                    peaks.append(peak)
                    requests.append(stats["requests"])
                    sent.append(stats["bytes"])
                shutil.rmtree(folder, ignore_errors=True)
        file_s, url_s = statistics.median(walls["file"]), statistics.median(walls["url"])
        rows.append({"command": name, "file_s": file_s, "url_s": url_s,
                     "round_trips": (url_s - file_s) / (DELAY_MS / 1000),
                     "requests": statistics.median(requests),
                     "kib": statistics.median(sent) / 1024,
                     "peak_mb": max(peaks) / 1024})
    return rows


if __name__ == "__main__":
    main()
