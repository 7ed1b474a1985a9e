"""Writing archives: what the writer writes reads back as it was given."""

import os

import pytest

import brackwater_dat as bw

HOW = ["store", "fast", "best", "smaller"]


def test_written_archive_reads_back(archive_path, tmp_path):
    source = bw.DatDatabase.open(archive_path)
    target = tmp_path / "w.dat"
    with bw.ArchiveWriter(target, block_size=512, header=source.header) as writer:
        for i, entry in enumerate(source.entries()):
            if i % 5 == 4:
                stored = source.read_file_data(entry.offset, entry.size)
                writer.add_stored(entry, stored)
            else:
                writer.add(entry.id, memoryview(source.get_file(entry.id)),
                           compression=HOW[i % 4], timestamp=entry.timestamp,
                           version=entry.version)
    written = bw.DatDatabase.open(target, on_demand=True)
    assert written.header.block_size == 512
    assert written.header.version_string == source.header.version_string
    assert written.header.dataset == source.header.dataset
    for entry in source.entries():
        assert written.get_file(entry.id) == source.get_file(entry.id)
        assert (written.entry(entry.id).timestamp, written.entry(entry.id).version) == \
            (entry.timestamp, entry.version)


def test_refusals_and_an_exception_leave_nothing(tmp_path):
    target = tmp_path / "a.dat"
    with pytest.raises(RuntimeError):
        with bw.ArchiveWriter(target) as writer:
            writer.add(1, b"one")
            with pytest.raises(bw.DatError):
                writer.add(1, b"again")
            with pytest.raises(ValueError):
                writer.add(2, b"two", compression="zip")
            raise RuntimeError("abandon")
    assert os.listdir(tmp_path) == []
    with pytest.raises(bw.DatError):
        bw.ArchiveWriter(target, block_size=1000 + 2)
    target.write_bytes(b"kept")
    with pytest.raises(bw.PathError):
        bw.ArchiveWriter(target)
    writer = bw.ArchiveWriter(target, overwrite=True)
    writer.add(id=0xFFFFFFFF, data=b"last")
    writer.commit()
    assert bw.DatDatabase.open(target).get_file(0xFFFFFFFF) == b"last"


@pytest.mark.parametrize("data", [b"", b"a", b"abcabcabcabc" * 50, bytes(range(256)) * 20])
def test_compress_lrs_round_trips(data):
    fast = bw.compress_lrs(data)
    best = bw.compress_lrs(bytearray(data), level="best")
    assert bw.decompress_lrs(fast) == data
    assert bw.decompress_lrs(best) == data
    assert len(best) <= len(fast)
    with pytest.raises(ValueError):
        bw.compress_lrs(data, level="max")
