"""Reads the game client's DAT archives and decodes their sound tables.

The reader is the native extension beside this file; everything it offers
is here, under the package's own name.
"""

from ._brackwater_dat import *  # noqa: F401,F403
from ._brackwater_dat import __version__  # noqa: F401
