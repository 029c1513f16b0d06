"""Shared helpers for the tests of the `difrax` extension module."""

from pathlib import Path

# Real instrument files live beside the repository, not in it.
CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"


def corpus_files():
    """Every corpus file, sorted; empty when the corpus is absent."""
    return sorted(p for p in CORPUS.glob("*/*") if p.is_file()) if CORPUS.is_dir() else []
