"""Reads and writes the game client's DAT archives and decodes their sound tables.

Ids, sizes and offsets are unsigned 32-bit integers; an argument outside
0..0xFFFFFFFF raises OverflowError, a non-integer TypeError. Every failure of
the reader is a DatError.
"""

import os
from typing import Any, Dict, Iterator, List, Literal, Mapping, Optional, Tuple, Union

from typing_extensions import Buffer

# A buffer the reader may write into: bytearray, a writable memoryview, a numpy array.
WritableBuffer = Buffer

__version__: str

class DatError(Exception):
    """A failure of the archive reader. str() is one line for people. Every
    one pickles with its attributes, so a process pool hands it back."""

    debug_text: str
    """The library's full form of the error: variant, payload, source locations."""
    code: str
    """The library's name of the error's kind: "Io", "BinRead", "NotFound",
    "Corruption", "PathError", "Other", ... (one per variant)."""

class NotFoundError(DatError, KeyError):
    """The file id is not in the archive's directory (also a KeyError). Code NotFound."""

class ReadError(DatError):
    """The archive could not be read: it ends early, or its source failed. Code Io."""

class ParseError(DatError):
    """A record (the header, a sound table) ended inside a field. Code BinRead."""

class CorruptionError(DatError):
    """What the archive holds is not what it says (a directory that is not a search
    tree, a stream shorter than it declares). Codes Corruption, DuplicateId,
    DuplicateNamespacedId, InvalidMagic, UnsupportedVersion, InvalidNamespace,
    DecompressionFailed."""

class PathError(DatError, OSError):
    """The archive file could not be opened (also an OSError with errno and filename).
    Code PathError."""

class DatHeader:
    """The archive header at file offset 0x140, kept exactly as read."""

    magic: int
    block_size: int
    """Every block: a 4-byte link, then block_size - 4 payload bytes."""
    file_size: int
    dataset: int
    subset: int
    free_head: int
    free_tail: int
    free_count: int
    root_offset: int
    """The directory's root node; 0 for an empty directory."""
    new_lru: int
    old_lru: int
    use_lru: int
    master_map_id: int
    engine_version: int
    game_version: int
    version_string: bytes
    """16 raw bytes, not text."""
    version_minor: int

class DatFileEntry:
    """One file of the directory."""

    id: int
    bit_flags: int
    offset: int
    """The first block of the file's chain."""
    size: int
    """Stored payload bytes."""
    timestamp: int
    version: int
    compressed: bool
    """Bit 0 of bit_flags: get_file decompresses the stored payload."""

class DatDatabase:
    """An open archive.

    Opened whole (the default), its whole directory is read at once and a
    lookup is a hash probe; opened on demand, nothing of the directory is
    read until a lookup descends the tree, reading only the nodes on its way
    (entries() and len() then walk the whole tree). Where the directory is
    not a search tree a lookup on demand may fail where the whole directory
    answers. It never changes once opened; threads may share it, and lookups
    and reads release the GIL, so they run in parallel.
    """

    @staticmethod
    def open(path: Union[str, bytes, os.PathLike], on_demand: Optional[bool] = None,
             headers: Optional[Mapping[str, str]] = None,
             timeout: float = 30.0) -> "DatDatabase":
        """Opens the archive file, or the archive at an http:// or https:// URL by
        range requests; PathError when it cannot be opened (a FIFO or a socket
        cannot), its filename the path or URL as given. on_demand defaults to
        False for a file and True for a URL. For a URL, `headers` go with every
        request, and a request fails after `timeout` seconds without a byte; a
        read that fails on the network raises DatError (Io) naming the URL and range."""
    @staticmethod
    def from_bytes(data: Buffer, on_demand: bool = False) -> "DatDatabase":
        """Opens an archive held in any bytes-like object; the database keeps its own copy."""
    @property
    def header(self) -> DatHeader: ...
    @property
    def on_demand(self) -> bool:
        """Whether the directory is read on demand."""
    def header_problems(self) -> List[str]:
        """What in the header does not look like an archive's, one line for people
        each: the magic, a block size below 8, file_size against the file's length,
        a root node past the end. [] for an archive; opening does not judge it."""
    def __len__(self) -> int:
        """The number of files in the directory."""
    def __contains__(self, file_id: object) -> bool: ...
    def __getitem__(self, file_id: int) -> bytes:
        """get_file(file_id); NotFoundError (a KeyError) when absent."""
    def __iter__(self) -> Iterator[DatFileEntry]:
        """The directory's entries, sorted by id."""
    def close(self) -> None:
        """Lets the archive go; later calls raise DatError ("the archive is closed")."""
    def __enter__(self) -> "DatDatabase": ...
    def __exit__(self, *exc: Any) -> bool: ...
    def entry(self, file_id: int) -> DatFileEntry:
        """The file's directory entry; NotFoundError when it is absent."""
    def entries(self) -> List[DatFileEntry]:
        """Every directory entry, sorted by id."""
    def get_file(self, file_id: int, strict: bool = False) -> bytes:
        """The file's contents, decompressed when its entry says so; NotFoundError when absent.
        A compressed file whose stream ends before its declared length gives what
        decodes, or with strict raises DatError naming both sizes."""
    def read_file_into(self, file_id: int, buffer: WritableBuffer) -> int:
        """Reads the file's contents, as get_file gives them, into a writable buffer
        (bytearray, memoryview, numpy array) of at least their size; returns the
        bytes written. DatError when the buffer is too small."""
    def read_file_data(self, first_block: int, size: int) -> bytes:
        """Exactly `size` bytes of the block chain that starts at `first_block`."""

class SoundEntry:
    """One weighted reference from a sound kind to a wave file; floats keep their bits."""

    def __init__(self, wave_did: int, priority: float, probability: float, volume: float) -> None: ...
    wave_did: int
    priority: float
    probability: float
    volume: float

class SoundData:
    """A sound kind's entries, in payload order, and the word that closes its record."""

    def __init__(self, entries: List[SoundEntry], unknown: int) -> None: ...
    entries: List[SoundEntry]
    unknown: int

class SoundTable:
    """A decoded sound table (file type 0x20)."""

    @staticmethod
    def unpack(data: Buffer) -> "SoundTable":
        """Decodes a whole payload; ParseError when it ends inside a field."""
    id: int
    hash_key: int
    hashes: Dict[int, Tuple[int, int, int]]
    sounds: Dict[int, SoundData]
    def resolve_sound(self, kind: int) -> Optional[int]:
        """The wave of the kind's first entry; None when the kind is absent, has no
        entries, or its first entry's wave is 0."""

def open(path: Union[str, bytes, os.PathLike], on_demand: Optional[bool] = None,
         headers: Optional[Mapping[str, str]] = None, timeout: float = 30.0) -> DatDatabase:
    """DatDatabase.open: the archive file or URL at `path`, usable in a with block."""

class ArchiveWriter:
    """Writes a new archive at `path`; in a with block it commits when the block
    ends and abandons what it wrote when an exception leaves it."""
    def __init__(self, path: Union[str, bytes, os.PathLike], block_size: int = 1024,
                 header: Optional[DatHeader] = None, overwrite: bool = False) -> None: ...
    def add(self, id: int, data: Buffer,
            compression: Literal["store", "fast", "best", "smaller"] = "store",
            timestamp: int = 0, version: int = 0) -> None: ...
    def add_stored(self, entry: DatFileEntry, stored: Buffer) -> None: ...
    def commit(self) -> None: ...
    def __enter__(self) -> ArchiveWriter: ...
    def __exit__(self, exc_type: object, exc: object, traceback: object) -> bool: ...

def compress_lrs(data: Buffer, level: Literal["fast", "best"] = "fast") -> bytes:
    """An LRS payload of the data: its length prefix, then the token stream."""

def decompress_lrs(data: Buffer) -> bytes:
    """Decodes an LRS payload: a little-endian length prefix, then the token stream."""
