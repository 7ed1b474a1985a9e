"""The tool over URLs, as a person runs it: every command that reads an
archive answers for an http:// URL as for the same file, and the URL options
(--verbose, --http-header, --http-timeout, --whole) do what they say.

    remote_tool_test.py TOOL ARCHIVE RANGE_SERVER [EMULATOR...]

EMULATOR runs the tool (Wine, for the Windows build)."""

import filecmp
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request


def main():
    tool, archive, server_script, *emulator = sys.argv[1:]
    work = tempfile.mkdtemp(prefix="remote-tool-")
    try:
        run_all(emulator + [tool], archive, server_script, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_all(tool, archive, server_script, work):
    served = os.path.join(work, "served")
    os.mkdir(served)
    shutil.copy(archive, os.path.join(served, "a.dat"))
    local = os.path.join(served, "a.dat")
    port_file = os.path.join(work, "port")
    server = subprocess.Popen([sys.executable, server_script, served, "--port-file", port_file],
                              stdout=subprocess.DEVNULL)
    try:
        for _ in range(200):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        base = f"http://127.0.0.1:{open(port_file).read()}"
        checks(tool, local, base + "/a.dat", base, work)
    finally:
        server.terminate()
        server.wait()


def run(tool, *args):
    return subprocess.run(tool + list(args), capture_output=True, timeout=300)


def control(base, path):
    with urllib.request.urlopen(base + path) as answer:
        return json.load(answer)


def checks(tool, local, url, base, work):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    # The same output and status from the URL as from the file, on demand
    # (a URL's default) and with the directory read whole.
    commands = [["info"], ["info", "--json"], ["ls"], ["ls", "--long"],
                ["ls", "--type", "0A", "--json"], ["cat", "0x01000104"], ["cat", "0x01000100"],
                ["sound", "0x20000001"], ["sound", "0x20000001", "--json"],
                ["resolve", "0x20000001", "0x01", "0x02", "--json"], ["verify", "--json"],
                ["cat", "0x01000101"]]
    for command in commands:
        want = run(tool, command[0], local, *command[1:])
        for extra in ([], ["--whole"]):
            got = run(tool, command[0], url, *command[1:], *extra)
            shown = got.stdout.replace(url.encode(), local.encode())  # info names its archive
            expect((got.returncode, shown) == (want.returncode, want.stdout),
                   f"{command + extra}: {got.returncode} {got.stderr[-300:]!r}")

    # extract and repack write the same files; diff finds none between the two.
    for source, folder in ((local, "from-file"), (url, "from-url")):
        ran = run(tool, "extract", source, os.path.join(work, folder), "--type", "0A",
                  "--no-progress")
        expect(ran.returncode == 0, f"extract {source}: {ran.stderr!r}")
        ran = run(tool, "repack", source, os.path.join(work, folder + ".dat"), "--no-progress")
        expect(ran.returncode == 0, f"repack {source}: {ran.stderr!r}")
    compared = filecmp.dircmp(os.path.join(work, "from-file"), os.path.join(work, "from-url"))
    expect(not compared.diff_files and not compared.left_only and not compared.right_only
           and compared.common_dirs, "extract from the URL differs")
    expect(filecmp.cmp(os.path.join(work, "from-file.dat"), os.path.join(work, "from-url.dat"),
                       shallow=False), "repack from the URL differs")
    ran = run(tool, "diff", url, local)
    expect(ran.returncode == 0, f"diff URL FILE: {ran.returncode} {ran.stdout!r}")

    # --verbose shows each request; --http-header goes with every one.
    control(base, "/_reset")
    ran = run(tool, "cat", url, "0x01000104", "--verbose", "--http-header", "X-Token: t0k3n")
    lines = ran.stderr.decode().splitlines()
    expect(ran.returncode == 0 and lines and
           lines[0].startswith(f"brackwater-dat: GET {url} bytes=0-4095: 206, 4096 bytes, "),
           f"--verbose: {lines[:2]}")
    stats = control(base, "/_stats")
    tokens = [headers.get("X-Token") for headers in stats["headers"]]
    expect(stats["requests"] == len(lines) and tokens == ["t0k3n"] * len(lines),
           f"--http-header: {tokens} for {len(lines)} requests")

    # One table costs the header, the directory's levels and the table: a
    # handful of requests, not the archive.
    control(base, "/_reset")
    ran = run(tool, "sound", url, "0x20000001")
    stats = control(base, "/_stats")
    expect(ran.returncode == 0 and stats["requests"] <= 5 and stats["bytes"] <= 256 * 1024,
           f"sound over a URL: {stats['requests']} requests, {stats['bytes']} bytes")

    # A URL that names nothing, and a server that stalls past --http-timeout.
    ran = run(tool, "info", base + "/missing.dat")
    expect(ran.returncode == 2 and ran.stderr.decode().strip() ==
           f"brackwater-dat: error: cannot open {base}/missing.dat: not found on the server "
           "(HTTP 404)", f"404: {ran.stderr!r}")
    control(base, "/_misbehave?how=stall&count=20")
    ran = run(tool, "cat", url, "0x01000104", "--http-timeout", "0.5")
    expect(ran.returncode == 2 and f"{url}".encode() in ran.stderr, f"stall: {ran.stderr!r}")
    control(base, "/_reset")

    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print(f"{len(commands)} commands, extract, repack, diff and the URL options agree")


if __name__ == "__main__":
    main()
