"""Adds seeds made by the benchmark generator (bench/generate.py): one small
pattern in every format it writes, for the load target and for the reader
target of its format.

    python3 fuzz/seeds_bench.py SEEDS_DIR HINT...

HINT... are the load target's file-name hints in their order (fuzz_seeds
--hints prints them), so that the first byte of each seed picks the file's
own extension.
"""

import importlib.util
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
READER_TARGET = {"RAW": "raw", "GSAS": "gsas", "pdCIF": "cif", "XRDML": "xml", "BRML": "archive", "RASX": "archive"}


def main():
    out, hints = sys.argv[1], sys.argv[2:]
    loader_spec = importlib.util.spec_from_file_location("generate", os.path.join(ROOT, "bench", "generate.py"))
    generate = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(generate)

    def write(target, name, data):
        os.makedirs(os.path.join(out, target), exist_ok=True)
        with open(os.path.join(out, target, name), "wb") as f:
            f.write(data)

    seen = set()
    for _label, fmt, _n, name, writer, _group in generate.FILES:
        if writer in seen:
            continue
        seen.add(writer)
        data = writer(generate.scan(48))
        hint = "scan" + os.path.splitext(name)[1]
        selector = hints.index(hint) if hint in hints else 0
        stem = "bench-" + writer.__name__
        write("load", stem, bytes([selector, 0]) + data)
        if fmt in READER_TARGET:
            write(READER_TARGET[fmt], stem, bytes([0]) + data)


if __name__ == "__main__":
    main()
