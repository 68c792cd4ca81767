"""Dral: fast, checksummed binary serialisation of JSON-like data."""

from . import _dral_native
from ._dral_native import *  # noqa: F401,F403

__all__ = list(_dral_native.__all__)
__version__ = _dral_native.__version__
__doc__ = _dral_native.__doc__
