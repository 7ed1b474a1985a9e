"""Sound tables and sound resolution, against the native reader's answers."""

import math
import struct

import pytest

import brackwater_dat as bw

PINNED = [
    (0x20000001, 0x58, 0x0A000262),
    (0x20000001, 0x5B, 0x0A000274),
    (0x20000001, 0x46, None),
    (0x20000001, 0xFFFFFFFF, None),
    (0x200000A8, 0x1F, 0x0A000519),
    (0x200000A8, 0x46, None),
]


def float_bits(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


@pytest.fixture(scope="module")
def tables(archive_path):
    db = bw.DatDatabase.open(archive_path)
    return {table_id: bw.SoundTable.unpack(db.get_file(table_id))
            for table_id in (0x20000001, 0x200000A8)}


@pytest.mark.parametrize("table_id, kind, wave", PINNED,
                         ids=[f"{t:08X}-{k:X}" for t, k, _ in PINNED])
def test_pinned_resolutions(tables, table_id, kind, wave):
    assert tables[table_id].resolve_sound(kind) == wave


def test_all_410_resolutions_match_the_native_reader(tables, expected):
    pairs = 0
    for table_id, table in tables.items():
        answers = expected["tables"][str(table_id)]["resolutions"]
        for kind in range(205):
            assert table.resolve_sound(kind) == answers[str(kind)], (hex(table_id), kind)
            pairs += 1
    assert pairs == 410


def test_every_attribute_matches_the_native_reader(tables, expected):
    for table_id, table in tables.items():
        native = expected["tables"][str(table_id)]
        assert (table.id, table.hash_key) == (native["id"], native["hash_key"])
        assert table.hashes == {int(k): tuple(v) for k, v in native["hashes"].items()}
        assert len(table.hashes) == native["hash_count"]
        assert set(table.sounds) == {int(k) for k in native["sounds"]}
        for kind, sound in table.sounds.items():
            want = native["sounds"][str(kind)]
            assert sound.unknown == want["unknown"]
            assert [(e.wave_did, float_bits(e.priority), float_bits(e.probability),
                     float_bits(e.volume)) for e in sound.entries] == [tuple(e) for e in want["entries"]]


def payload(sounds, hashes=()):
    """A sound-table payload: id, hash_key, the hash records, the sound records."""
    out = struct.pack("<IiI", 0x20000009, -7, len(hashes))
    for key, words in hashes:
        out += struct.pack("<4I", key, *words)
    out += struct.pack("<i", len(sounds))
    for kind, entries, unknown in sounds:
        out += struct.pack("<II", kind, len(entries))
        for wave, *floats in entries:
            out += struct.pack("<I", wave) + b"".join(struct.pack("<I", f) for f in floats)
        out += struct.pack("<i", unknown)
    return out


def test_floats_keep_their_bit_patterns():
    nan_payload, negative_zero = 0x7FC01234, 0x80000000
    table = bw.SoundTable.unpack(payload([(1, [(0x0A000001, nan_payload, negative_zero,
                                                0x3F800000)], 3)]))
    entry = table.sounds[1].entries[0]
    assert math.isnan(entry.priority) and float_bits(entry.priority) == nan_payload
    assert entry.probability == 0.0 and math.copysign(1, entry.probability) == -1
    assert entry.volume == 1.0
    assert table.sounds[1] == bw.SoundData([entry], 3)  # equal to itself despite the NaN
    assert "nan" in repr(entry)


def test_later_records_replace_earlier_ones():
    table = bw.SoundTable.unpack(payload(
        [(5, [(0x0A000001, 0, 0, 0)], 1), (5, [(0, 0, 0, 0), (0x0A000002, 0, 0, 0)], 2)],
        hashes=[(9, (1, 2, 3)), (9, (4, 5, 6))]))
    assert table.hashes == {9: (4, 5, 6)}
    assert table.sounds[5].unknown == 2
    assert table.resolve_sound(5) is None  # the first entry's wave is 0
    assert table.resolve_sound(6) is None


def test_unpack_errors_and_arguments():
    for cut in (b"", bytes(12), payload([(1, [(1, 0, 0, 0)], 0)])[:-1]):
        with pytest.raises(bw.ParseError):
            bw.SoundTable.unpack(cut)
    table = bw.SoundTable.unpack(bytes(16))
    with pytest.raises(OverflowError):
        table.resolve_sound(-1)
    with pytest.raises(OverflowError):
        table.resolve_sound(1 << 32)
    with pytest.raises(TypeError):
        table.resolve_sound("0x58")


def test_tables_compare_by_value_and_values_refuse_what_does_not_fit(tables, archive_path):
    again = bw.SoundTable.unpack(bw.DatDatabase.open(archive_path).get_file(0x20000001))
    assert again == tables[0x20000001] and again != tables[0x200000A8]
    assert repr(again).startswith("SoundTable(id=0x20000001, ")
    for bad in (-1, 1 << 32):
        with pytest.raises(OverflowError):
            bw.SoundEntry(bad, 0.0, 0.0, 0.0)
    with pytest.raises(OverflowError):
        bw.SoundEntry(1, 1e300, 0.0, 0.0)
    with pytest.raises(OverflowError):
        bw.SoundData([], 1 << 31)


def test_decompress_lrs():
    assert bw.decompress_lrs(bytes([6, 0, 0, 0, 0x40, 0x61, 0x01, 0x03])) == b"a" * 6
    assert bw.decompress_lrs(b"ab") == b"ab"
    assert bw.decompress_lrs(bytearray([0x0A, 0, 0, 0, 0x20, 0x78, 0x79, 0x05, 0x01])) == b"xyxxx"


def test_every_wave_a_table_of_the_example_resolves_to_is_a_file_of_it(archive_path):
    db = bw.open(archive_path)
    tables = [e.id for e in db if e.id >> 24 == 0x20]
    waves = {bw.SoundTable.unpack(db[t]).resolve_sound(kind)
             for t in tables for kind in bw.SoundTable.unpack(db[t]).sounds}
    waves.discard(None)
    assert len(tables) == 82 and len(waves) > 200
    assert [hex(w) for w in sorted(waves) if w not in db] == []
