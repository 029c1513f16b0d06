"""Shared fixtures for the tests of the `difrax` extension module."""

from pathlib import Path

import pytest

# Real instrument files live beside the repository, not in it.
CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"


@pytest.fixture
def write_file(tmp_path):
    """Writes bytes (or text, as UTF-8) to a file in tmp_path; returns its path as str."""

    def write(name, content):
        path = tmp_path / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return write


def corpus_files(kind, pattern="*"):
    """The corpus files of one format folder, sorted; empty when the corpus is absent."""
    folder = CORPUS / kind
    return sorted(folder.glob(pattern)) if folder.is_dir() else []
