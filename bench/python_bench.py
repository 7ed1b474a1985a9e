"""Times the Python module reading every file of an archive, as a script
would: [db.get_file(e.id) for e in db.entries()], five times, and prints the
median (and each run) as JSON for bench/report.py.

    PYTHONPATH=BUILD/python python3 bench/python_bench.py ARCHIVE OUT.json
"""

import json
import statistics
import sys
import time

import brackwater_dat as bw


def main(archive, out):
    db = bw.DatDatabase.open(archive)
    entries = db.entries()
    runs = []
    for _ in range(5):
        start = time.perf_counter()
        files = [db.get_file(e.id) for e in entries]
        runs.append(time.perf_counter() - start)
        del files
    with open(out, "w") as f:
        json.dump({"name": "python get_file, every file", "runs_s": runs,
                   "median_s": statistics.median(runs), "files": len(entries)}, f)


if __name__ == "__main__":
    main(*sys.argv[1:])
