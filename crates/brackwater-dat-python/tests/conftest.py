"""Shared fixtures: the synthetic portal archive the build makes, and the
native reader's answers for it (written by write_expectations)."""

import json
import os
import pathlib
import struct

import pytest

RETAIL_DIR = pathlib.Path(os.environ["BRACKWATER_SYNTHETIC_RETAIL_DIR"])


@pytest.fixture(scope="session")
def archive_path():
    return RETAIL_DIR / "good" / "client_portal.dat"


@pytest.fixture(scope="session")
def expected():
    with open(os.environ["BRACKWATER_EXPECTATIONS"]) as f:
        return json.load(f)


def header_bytes(root_offset=0, block_size=1024, magic=0x5442):
    """An archive of just a header (0x190 bytes), with the given fields."""
    fields = [magic, block_size] + [0] * 6 + [root_offset] + [0] * 6
    return bytes(0x140) + struct.pack("<15I", *fields) + bytes(16) + struct.pack("<I", 0)
