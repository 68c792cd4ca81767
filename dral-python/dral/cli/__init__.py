"""The `dral` command: Dral streams, the text notation, CTN, CBF and CQL from the shell."""

from .main import build_parser, main

__all__ = ["build_parser", "main"]
