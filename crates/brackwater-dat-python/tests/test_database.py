"""The archive reader, against the native reader's answers for the same archive."""

import multiprocessing
import os
import pathlib
import pickle
import threading

import pytest

import brackwater_dat as bw
from conftest import RETAIL_DIR, header_bytes

HEADER_FIELDS = ["magic", "block_size", "file_size", "dataset", "subset", "free_head",
                 "free_tail", "free_count", "root_offset", "new_lru", "old_lru", "use_lru",
                 "master_map_id", "engine_version", "game_version", "version_minor"]


@pytest.fixture(scope="module", params=[False, True], ids=["whole", "on_demand"])
def db(archive_path, request):
    opened = bw.DatDatabase.open(archive_path, on_demand=request.param)
    assert opened.on_demand == request.param
    return opened


def test_header_has_every_field_as_read(db, expected):
    for name in HEADER_FIELDS:
        assert getattr(db.header, name) == expected["header"][name], name
    assert db.header.version_string == bytes.fromhex(expected["header"]["version_string"])
    assert isinstance(db.header.version_string, bytes)


def test_entries_are_sorted_and_match_the_native_reader(db, expected):
    entries = db.entries()
    assert len(db) == len(entries) == len(expected["entries"]) > 300
    for entry, (id_, flags, offset, size, timestamp, version) in zip(entries, expected["entries"]):
        assert (entry.id, entry.bit_flags, entry.offset, entry.size, entry.timestamp,
                entry.version) == (id_, flags, offset, size, timestamp, version)
        assert entry.compressed == bool(flags & 1)
        assert db.entry(id_) == entry
        assert id_ in db


def test_every_file_matches_the_native_reader_byte_for_byte(db, expected):
    for id_text, content in expected["files"].items():
        assert db.get_file(int(id_text)) == bytes.fromhex(content), id_text


def test_read_file_into_fills_a_buffer_of_the_callers_as_get_file_would(db):
    largest = max(e.size for e in db.entries()) * 20
    buffer = bytearray(largest)
    view = memoryview(buffer)[8:]
    for entry in db.entries():
        expected = db.get_file(entry.id)
        assert db.read_file_into(entry.id, buffer) == len(expected)
        assert buffer[:len(expected)] == expected
        assert db.read_file_into(entry.id, view) == len(expected)
        assert view[:len(expected)] == expected
    with pytest.raises(bw.DatError, match="cannot hold file 0x20000001"):
        db.read_file_into(0x20000001, bytearray(10))
    with pytest.raises(BufferError):
        db.read_file_into(0x20000001, b"read-only")


def test_read_file_data_gives_the_stored_bytes(db):
    entry = db.entry(0x20000001)
    stored = db.read_file_data(entry.offset, entry.size)
    assert len(stored) == entry.size
    assert bw.decompress_lrs(stored) == db.get_file(0x20000001)


def test_from_bytes_equals_open_on_the_same_bytes(db, archive_path):
    data = archive_path.read_bytes()
    for view in (data, bytearray(data), memoryview(data)):
        copy = bw.DatDatabase.from_bytes(view, on_demand=db.on_demand)
        assert copy.on_demand == db.on_demand
        assert copy.header == db.header
        assert copy.entries() == db.entries()
        assert all(copy.get_file(e.id) == db.get_file(e.id) for e in db.entries())


def test_from_bytes_keeps_its_own_copy():
    data = bytearray(header_bytes())
    db = bw.DatDatabase.from_bytes(data)
    data[0x144:0x148] = b"\xff\xff\xff\xff"
    assert db.header.block_size == 1024


def test_open_takes_str_bytes_and_pathlike(archive_path):
    for path in (str(archive_path), os.fsencode(archive_path), pathlib.Path(archive_path)):
        assert len(bw.DatDatabase.open(path)) > 300


def test_eight_threads_fetch_the_same_bytes_as_one(db):
    ids = [e.id for e in db.entries()]
    single = {i: db.get_file(i) for i in ids}
    results = [None] * 8

    def fetch(slot):
        results[slot] = {i: db.get_file(i) for i in ids}

    threads = [threading.Thread(target=fetch, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(result == single for result in results)


def test_values_are_plain_objects_that_outlive_the_database(archive_path):
    db = bw.DatDatabase.open(archive_path)
    entry, header, data = db.entry(0x20000001), db.header, db.get_file(0x20000001)
    del db
    assert entry.id == 0x20000001 and header.block_size == 1024 and isinstance(data, bytes)
    assert repr(entry).startswith("DatFileEntry(id=0x20000001, ")
    assert hash(entry) == hash(bw.DatDatabase.open(archive_path).entry(0x20000001))
    with pytest.raises(AttributeError):
        entry.size = 3


# ---- errors ----

def test_absent_id_is_not_found_and_a_key_error(db):
    with pytest.raises(bw.NotFoundError) as raised:
        db.get_file(0x2000FFFF)
    assert isinstance(raised.value, KeyError) and isinstance(raised.value, bw.DatError)
    assert str(raised.value) == "no file 0x2000FFFF in the archive"
    assert raised.value.debug_text == "NotFound(536936447)"
    with pytest.raises(KeyError):
        db.entry(0x2000FFFF)
    assert 0x2000FFFF not in db


def test_missing_path_is_a_path_error_and_an_os_error(tmp_path):
    missing = tmp_path / "no" / "client_portal.dat"
    with pytest.raises(bw.PathError) as raised:
        bw.DatDatabase.open(missing)
    error = raised.value
    assert isinstance(error, OSError) and isinstance(error, bw.DatError)
    assert error.errno == 2
    assert error.strerror == "No such file or directory"
    assert error.filename == str(missing)
    assert str(error) == f"cannot open {missing}: No such file or directory (os error 2)"
    assert error.debug_text.startswith('PathError { path: "')
    with pytest.raises(OSError):  # an OSError handler catches it
        bw.DatDatabase.open(missing)


def test_a_path_that_is_not_utf8_is_a_path_error_named_as_given(tmp_path):
    as_bytes = os.fsencode(tmp_path) + b"/\xff\xfe.dat"
    for given in (as_bytes, os.fsdecode(as_bytes)):
        with pytest.raises(bw.PathError) as raised:
            bw.DatDatabase.open(given)
        assert raised.value.filename == given
        assert raised.value.errno == 2
        assert "\\xff\\xfe.dat" in str(raised.value)


def test_a_fifo_is_a_path_error(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    with pytest.raises(bw.PathError) as raised:
        bw.DatDatabase.open(fifo)
    assert raised.value.filename == str(fifo)
    assert str(raised.value) == f"cannot open {fifo}: Illegal seek (os error 29)"


def _raise(kind, tmp_path):
    if kind == "PathError":
        bw.DatDatabase.open(tmp_path / "missing.dat")
    elif kind == "NotFoundError":
        bw.DatDatabase.from_bytes(header_bytes()).get_file(1)
    elif kind == "ParseError":
        bw.SoundTable.unpack(b"\x01")
    else:
        bw.DatDatabase.from_bytes(header_bytes(root_offset=0x7FFFFF00))


def _caught(kind, tmp_path):
    try:
        _raise(kind, tmp_path)
    except bw.DatError as error:
        return error
    raise AssertionError(f"{kind} was not raised")


def _attributes(error):
    return (type(error), error.args, str(error), error.debug_text,
            getattr(error, "errno", None), getattr(error, "filename", None),
            getattr(error, "strerror", None))


KINDS = ["ReadError", "NotFoundError", "PathError", "ParseError"]


@pytest.mark.parametrize("kind", KINDS)
def test_every_error_crosses_processes_with_its_attributes(kind, tmp_path):
    error = _caught(kind, tmp_path)
    assert type(error).__name__ == kind
    assert _attributes(pickle.loads(pickle.dumps(error))) == _attributes(error)
    # A pool hands its worker's error back through pickle; one that cannot be
    # unpickled leaves the caller waiting for ever, here until the timeout.
    with multiprocessing.get_context("fork").Pool(1) as pool:
        with pytest.raises(bw.DatError) as raised:
            pool.apply_async(_raise, (kind, tmp_path)).get(timeout=60)
    assert _attributes(raised.value) == _attributes(error)


def test_header_problems_say_what_is_no_archives():
    assert bw.DatDatabase.from_bytes(bytes(400)).header_problems() == [
        "magic is 0x00000000, not 0x00005442", "block size 0 is less than 8",
        "file_size says 0 bytes, the archive has 400"]


def test_a_sound_archive_has_no_header_problems(db):
    assert db.header_problems() == []


@pytest.mark.parametrize("data, debug_start", [
    (bytes(0x144), "BinRead(failed to fill whole buffer\n While parsing field 'block_size'"),
    (header_bytes(root_offset=0x7FFFFF00),
     'Io(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" })'),
], ids=["header cut inside block_size", "root node past the end"])
def test_damaged_archives_raise_dat_error(data, debug_start):
    with pytest.raises(bw.DatError) as raised:
        bw.DatDatabase.from_bytes(data)
    assert type(raised.value) in (bw.ParseError, bw.ReadError)
    assert raised.value.debug_text.startswith(debug_start)
    assert "\n" not in str(raised.value)


def test_truncated_table_archive_still_opens_and_fails_to_unpack():
    db = bw.DatDatabase.open(RETAIL_DIR / "truncated-shield-table" / "client_portal.dat")
    with pytest.raises(bw.ParseError) as raised:
        bw.SoundTable.unpack(db.get_file(0x20000001))
    assert str(raised.value) == raised.value.debug_text == "failed to fill whole buffer"


# ---- arguments ----

@pytest.mark.parametrize("bad, error", [
    (-1, OverflowError), (0x100000000, OverflowError), (2**70, OverflowError),
    (1.0, TypeError), ("0x20000001", TypeError), (None, TypeError),
], ids=["negative", "just past 32 bits", "far past 64 bits", "float", "str", "None"])
def test_ids_outside_32_bits_never_wrap(db, bad, error):
    for call in (db.get_file, db.entry, lambda v: db.read_file_data(v, 1),
                 lambda v: db.read_file_data(0x400, v)):
        with pytest.raises(error):
            call(bad)
    assert bad not in db


def test_a_path_with_a_nul_byte_is_refused_not_cut_short(archive_path):
    with pytest.raises(ValueError):
        bw.DatDatabase.open(str(archive_path) + "\0.ignored")


def test_from_bytes_refuses_what_is_not_bytes_like():
    with pytest.raises(TypeError):
        bw.DatDatabase.from_bytes("not bytes")
    with pytest.raises((TypeError, BufferError, ValueError)):
        bw.DatDatabase.from_bytes(memoryview(bytes(0x400))[::2])


def test_strict_fails_a_stream_shorter_than_it_declares_where_the_default_keeps_it(archive_path):
    image = bytearray(archive_path.read_bytes())
    db = bw.DatDatabase.from_bytes(image)
    entry = next(e for e in db.entries() if e.bit_flags & 1 and len(db.get_file(e.id)) > 0)
    decoded = db.get_file(entry.id)
    # The length prefix, just after the first block's link, asks for 7 bytes more.
    image[entry.offset + 4:entry.offset + 8] = (len(decoded) + 7).to_bytes(4, "little")
    damaged = bw.DatDatabase.from_bytes(bytes(image))
    assert damaged.get_file(entry.id) == decoded
    with pytest.raises(bw.CorruptionError) as raised:
        damaged.get_file(entry.id, strict=True)
    assert str(raised.value) == (f"corrupt archive: file 0x{entry.id:08X} declares "
                                 f"{len(decoded) + 7} bytes, the stream yields {len(decoded)}")
    assert db.get_file(entry.id, strict=True) == decoded


def test_a_database_is_a_resource_python_users_expect(archive_path):
    with bw.open(archive_path) as db:
        entries = list(db)
        assert [e.id for e in entries] == sorted(e.id for e in entries) and len(db) == len(entries)
        assert entries[0].id in db
        assert db[entries[0].id] == db.get_file(entries[0].id)
        with pytest.raises(KeyError):
            db[0xFFFFFFFF]
    for call in (lambda: db.get_file(entries[0].id), lambda: len(db), lambda: list(db)):
        with pytest.raises(bw.DatError, match="the archive is closed"):
            call()
    db.close()  # closing again changes nothing


def test_a_failed_read_raises_rather_than_taking_a_bytes_object_never_made():
    db = bw.DatDatabase.from_bytes(header_bytes(block_size=1024))
    with pytest.raises(bw.NotFoundError):
        db.get_file(0x2000FFFF)
    with pytest.raises(bw.DatError):
        db.read_file_data(0, 1 << 20)


def _short_stream():
    image = bytearray((RETAIL_DIR / "good" / "client_portal.dat").read_bytes())
    db = bw.DatDatabase.from_bytes(image)
    entry = next(e for e in db.entries() if e.compressed and db.get_file(e.id))
    image[entry.offset + 4:entry.offset + 8] = (len(db.get_file(entry.id)) + 1).to_bytes(4, "little")
    return bw.DatDatabase.from_bytes(bytes(image)).get_file(entry.id, strict=True)


def _closed():
    db = bw.DatDatabase.from_bytes(header_bytes())
    db.close()
    return db.entries()


@pytest.mark.parametrize("fail, cls, code", [
    (lambda: bw.DatDatabase.from_bytes(header_bytes()).get_file(1), bw.NotFoundError, "NotFound"),
    (lambda: bw.DatDatabase.from_bytes(bytes(0x150)), bw.ParseError, "BinRead"),
    (lambda: bw.DatDatabase.from_bytes(header_bytes(root_offset=0x7FFFFF00)), bw.ReadError, "Io"),
    (_short_stream, bw.CorruptionError, "Corruption"),
    (lambda: bw.open("/no/such/archive.dat"), bw.PathError, "PathError"),
    (_closed, bw.DatError, "Other"),
], ids=["NotFound", "BinRead", "Io", "Corruption", "PathError", "Other"])
def test_each_error_code_raises_its_class(fail, cls, code):
    with pytest.raises(bw.DatError) as raised:
        fail()
    assert type(raised.value) is cls and raised.value.code == code
    assert pickle.loads(pickle.dumps(raised.value)).code == code
