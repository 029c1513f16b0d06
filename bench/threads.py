"""Speedup of loading from 4 threads over 1 thread.

    python bench/threads.py [--rounds N]

The same work (a mixed set of generated XY, GSAS, XRDML and RAW inputs, each
loaded N times) is done once by one thread and once split over four. The
module declares that it needs no GIL, so on a free-threaded CPython (3.13t or
later) the four threads load in parallel; on an interpreter with a GIL the
speedup stays near 1 and the report says so.
"""

import argparse
import os
import struct
import sys
import sysconfig
import threading
import time

import difrax


def xy(n):
    return "".join(f"{10 + 0.01 * i:.4f} {100 + (i * 37) % 91}\n" for i in range(n)).encode()


def gsas(n):
    values = [f"{i % 300 + 1:8d}" for i in range(n)]
    rows = "".join("".join(values[k:k + 10]) + "\n" for k in range(0, n, 10))
    return f"bench\nBANK 1 {n} {n} CONS 1000 1 0 0 STD\n{rows}".encode()


def xrdml(n):
    counts = " ".join(str(i % 900 + 1) for i in range(n))
    return (
        '<?xml version="1.0"?><xrdMeasurements><xrdMeasurement><scan scanAxis="Gonio"><dataPoints>'
        f'<positions axis="2Theta" unit="deg"><startPosition>10</startPosition><endPosition>{10 + 0.01 * (n - 1):.2f}'
        f'</endPosition></positions><counts>{counts}</counts></dataPoints></scan></xrdMeasurement></xrdMeasurements>'
    ).encode()


def raw3(n):
    header = bytearray(712)
    header[0:7] = b"RAW1.01"
    struct.pack_into("<I", header, 12, 1)
    rng = bytearray(304)
    struct.pack_into("<II", rng, 0, 304, n)
    struct.pack_into("<d", rng, 16, 10.0)
    struct.pack_into("<d", rng, 176, 0.01)
    struct.pack_into("<III", rng, 248, 0, 4, 0)
    return bytes(header + rng) + struct.pack(f"<{n}f", *[float(i % 500) for i in range(n)])


WORK = [(xy(5000), "scan.xy"), (gsas(5000), "scan.gsa"), (xrdml(5000), "scan.xrdml"), (raw3(20000), "scan.raw")]


def load_all(items, rounds):
    for _ in range(rounds):
        for data, name in items:
            difrax.read_bytes(data, name)


def timed(threads, rounds):
    per_thread = rounds // threads
    start = threading.Barrier(threads + 1)

    def worker():
        start.wait()
        load_all(WORK, per_thread)

    pool = [threading.Thread(target=worker) for _ in range(threads)]
    for t in pool:
        t.start()
    start.wait()
    t0 = time.perf_counter()
    for t in pool:
        t.join()
    return time.perf_counter() - t0, per_thread * threads * len(WORK)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=200, help="loads of each input, in all (a multiple of 4)")
    args = parser.parse_args()
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"Python {sys.version.split()[0]}, free-threaded build: {free_threaded}, GIL enabled: {gil}, "
          f"cores: {os.cpu_count()}")
    load_all(WORK, 2)  # warm up
    one, loads = timed(1, args.rounds)
    four, _ = timed(4, args.rounds)
    print(f"1 thread : {loads} loads in {one:.3f} s ({loads / one:.0f} loads/s)")
    print(f"4 threads: {loads} loads in {four:.3f} s ({loads / four:.0f} loads/s)")
    print(f"speedup of 4 threads over 1: {one / four:.2f}x")
    if gil:
        print("the GIL is enabled here, so threads take turns; run this on a free-threaded CPython")


if __name__ == "__main__":
    main()
