"""Archives behind URLs: the same answers as the file, the GIL let go while
requests wait, and the URL's options and failures as Python users expect."""

import json
import pathlib
import subprocess
import sys
import threading
import time
import urllib.request

import brackwater_dat as bw
import pytest

SERVER = pathlib.Path(__file__).parents[2] / "brackwater-dat-http" / "tests" / "range_server.py"


@pytest.fixture(scope="module")
def served(archive_path, tmp_path_factory):
    """The archive at a URL on a loopback server that waits 50 ms before each answer."""
    folder = tmp_path_factory.mktemp("served")
    (folder / "a.dat").write_bytes(archive_path.read_bytes())
    port_file = folder / "port"
    server = subprocess.Popen([sys.executable, str(SERVER), str(folder), "--delay-ms", "50",
                               "--port-file", str(port_file)], stdout=subprocess.DEVNULL)
    for _ in range(200):
        if port_file.exists():
            break
        time.sleep(0.05)
    base = f"http://127.0.0.1:{port_file.read_text()}"
    yield base
    server.terminate()
    server.wait()


def control(base, path):
    with urllib.request.urlopen(base + path) as answer:
        return json.load(answer)


@pytest.mark.parametrize("on_demand", [None, False])
def test_a_url_reads_as_the_file_does(served, archive_path, on_demand):
    local = bw.open(archive_path)
    with bw.open(served + "/a.dat", on_demand=on_demand) as remote:
        assert remote.on_demand is (on_demand is None)
        assert len(remote) == len(local) and 0x20000001 in remote
        assert list(remote) == list(local)
        assert all(remote[e.id] == local[e.id] for e in local)


def test_threads_wait_for_the_network_together(served, archive_path):
    control(served, "/_reset")
    ids = [e.id for e in bw.open(archive_path)][::40]
    remote = bw.open(served + "/a.dat", headers={"X-Token": "t0k3n"})
    results = {}
    threads = [threading.Thread(target=lambda i=i: results.update({i: remote.get_file(i)}))
               for i in ids]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == {i: bw.open(archive_path)[i] for i in ids}
    stats = control(served, "/_stats")
    # Requests were answered side by side: no thread held the GIL while it waited.
    assert stats["most_in_flight"] > 1
    assert all(h.get("X-Token") == "t0k3n" for h in stats["headers"])


def test_failures_name_the_url(served):
    with pytest.raises(bw.PathError) as missing:
        bw.open(served + "/missing.dat")
    assert missing.value.filename == served + "/missing.dat"
    assert str(missing.value).endswith("not found on the server (HTTP 404)")
    remote = bw.open(served + "/a.dat", timeout=0.5)
    control(served, "/_misbehave?how=stall&count=20")
    try:
        with pytest.raises(bw.DatError, match=r"/a\.dat \(bytes \d+-\d+\): "):
            remote.get_file(0x20000001)
    finally:
        control(served, "/_reset")
    with pytest.raises(ValueError):
        bw.open(served + "/a.dat", timeout=0)
