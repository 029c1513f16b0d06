#!/usr/bin/env python3
"""Times difrax against its peers on the files written by bench/generate.py.

    python bench/run.py DIR [--budget SECONDS] [--repeats N] [--json FILE]

In one process and one run, for every file of DIR/manifest.tsv:

* difrax.read(path) followed by reading .x and .y (Python lists);
* difrax.read(path) alone;
* the peers on the same file: numpy.loadtxt and several pandas.read_csv
  variants for XY, gemmi's CIF reader turned into float arrays for pdCIF,
  ElementTree with float conversion for XRDML.

The candidates of one file are timed interleaved (one run of each in turn,
repeated), with the garbage collector off, and the best run of each counts,
so that the ratios compare runs made side by side under the same load.

The peak memory of one load is measured in a child process per file: after a
warm-up load and malloc_trim, VmHWM is reset through /proc/self/clear_refs and
read again after difrax.read(path); the extra memory is the peak minus the
resident size before the load. It counts every allocation, the C++ ones
included, and is compared with the bound: input size + 2 x output arrays
(2 x 8 bytes per point, twice) + 1 MiB.

Prints markdown tables with PASS/FAIL against the targets. MB = 10^6 bytes;
memory is in MiB.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import subprocess
import sys
import time

OPENBLAS_VARS = ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")

# (label, points) -> list of (peer column, minimum ratio)
TARGETS = {
    ("XY", 1_000_000): [("numpy.loadtxt", 1.5), ("pandas.read_csv", 1.5)],
    ("XY", 10_000): [("numpy.loadtxt", 3.0)],
    ("pdCIF", 1_000_000): [("gemmi + numpy", 5.0)],
    ("XRDML", 100_000): [("ElementTree", 3.0)],
}
PEER_COLUMNS = ["numpy.loadtxt", "pandas.read_csv", "gemmi + numpy", "ElementTree"]
MIB = 1024 * 1024


def points_text(n: int) -> str:
    e = len(str(n)) - 1
    return "10^%d" % e if n == 10**e and e >= 3 else str(n)


def read_manifest(folder: str) -> list[dict]:
    out = []
    with open(os.path.join(folder, "manifest.tsv")) as f:
        for line in f:
            if not line.strip() or line.startswith("#"):
                continue
            label, fmt, points, name, group = line.rstrip("\n").split("\t")[:5]
            out.append({"label": label, "format": fmt, "points": int(points),
                        "path": os.path.join(folder, name), "file": name, "group": group})
    return out


# ---------------------------------------------------------------------------
# Peers. Each returns (x, y) as float arrays or lists, or raises.


def xy_peers(path: str) -> dict:
    peers = {}
    try:
        import numpy as np

        def loadtxt():
            x, y = np.loadtxt(path, usecols=(0, 1), unpack=True)
            return x, y

        peers["numpy.loadtxt"] = [("numpy.loadtxt", loadtxt)]
    except ImportError:
        pass
    try:
        import pandas as pd

        def csv(**kw):
            def go():
                df = pd.read_csv(path, header=None, usecols=[0, 1], **kw)
                return df[0].to_numpy(), df[1].to_numpy(dtype=float)
            return go

        variants = [
            ("sep=r'\\s+', comment='#'", csv(sep=r"\s+", comment="#")),
            ("sep=' ', comment='#'", csv(sep=" ", comment="#")),
            ("sep=' ', skiprows=2", csv(sep=" ", skiprows=2)),
        ]
        try:
            import pyarrow  # noqa: F401

            def arrow():
                df = pd.read_csv(path, header=None, sep=" ", skiprows=2, engine="pyarrow")
                return df[0].to_numpy(), df[1].to_numpy(dtype=float)

            variants.append(("engine='pyarrow'", arrow))
        except ImportError:
            pass
        peers["pandas.read_csv"] = variants
    except ImportError:
        pass
    return peers


def pdcif_peers(path: str) -> dict:
    try:
        import numpy as np
        from gemmi import cif
    except ImportError:
        return {}
    tags = ("_pd_meas_2theta_scan", "_pd_meas_counts_total")

    def as_numbers():
        block = cif.read_file(path).sole_block()
        x, y = (block.find_values(t) for t in tags)
        return (np.fromiter(map(cif.as_number, x), float, len(x)),
                np.fromiter(map(cif.as_number, y), float, len(y)))

    def list_comprehension():
        block = cif.read_file(path).sole_block()
        x, y = (block.find_values(t) for t in tags)
        return (np.array([cif.as_number(v) for v in x]), np.array([cif.as_number(v) for v in y]))

    return {"gemmi + numpy": [("map(as_number) + fromiter", as_numbers),
                              ("[as_number(v)] + array", list_comprehension)]}


def xrdml_peers(path: str) -> dict:
    import xml.etree.ElementTree as ET

    def data_points():
        root = ET.parse(path).getroot()
        return root.find("{*}xrdMeasurement/{*}scan/{*}dataPoints")

    def axis(dp, n, linspace):
        for pos in dp.findall("{*}positions"):
            if pos.get("axis") == "2Theta":
                s = float(pos.find("{*}startPosition").text)
                e = float(pos.find("{*}endPosition").text)
                return linspace(s, e, n)
        raise ValueError("no 2Theta positions")

    def pure():
        dp = data_points()
        counts = [float(v) for v in dp.find("{*}counts").text.split()]
        factors = [float(v) for v in dp.find("{*}beamAttenuationFactors").text.split()]
        y = [c * f for c, f in zip(counts, factors)]
        n = len(y)
        x = axis(dp, n, lambda s, e, n: [s + ((e - s) * i) / (n - 1) for i in range(n)])
        return x, y

    peers = [("ElementTree + float()", pure)]
    try:
        import numpy as np

        def with_numpy():
            dp = data_points()
            counts = np.array(dp.find("{*}counts").text.split(), dtype=float)
            factors = np.array(dp.find("{*}beamAttenuationFactors").text.split(), dtype=float)
            y = counts * factors
            return axis(dp, len(y), np.linspace), y

        peers.append(("ElementTree + numpy", with_numpy))
    except ImportError:
        pass
    return {"ElementTree": peers}


def peers_for(entry: dict) -> dict:
    if entry["label"] == "XY":
        return xy_peers(entry["path"])
    if entry["label"] == "pdCIF":
        return pdcif_peers(entry["path"])
    if entry["label"] == "XRDML":
        return xrdml_peers(entry["path"])
    return {}


def same_values(a, b) -> bool:
    """Whether a peer's (x, y) equals difrax's, to a relative 1e-9."""
    (ax, ay), (bx, by) = a, b
    if len(ax) != len(bx) or len(ay) != len(by):
        return False
    for u, v in ((ax, bx), (ay, by)):
        for i in {0, 1, len(u) // 3, len(u) // 2, len(u) - 1}:
            if i < len(u) and abs(float(u[i]) - float(v[i])) > 1e-9 * max(1.0, abs(float(v[i]))):
                return False
    return True


# ---------------------------------------------------------------------------
# Timing


def best_times(candidates: list[tuple[str, callable]], budget: float, repeats: int | None) -> dict:
    """Runs the candidates interleaved and returns the best time of each."""
    first = {}
    for name, fn in candidates:
        t0 = time.perf_counter()
        fn()
        first[name] = time.perf_counter() - t0
    slowest = max(first.values())
    n = repeats or max(5, min(100, int(budget / max(slowest, 1e-6))))
    best = dict(first)
    gc_was = gc.isenabled()
    try:
        for _ in range(n):
            for name, fn in candidates:
                gc.collect()
                gc.disable()
                t0 = time.perf_counter()
                result = fn()
                dt = time.perf_counter() - t0
                # Freeing the result is not part of reading it.
                del result
                gc.enable()
                best[name] = min(best[name], dt)
    finally:
        if gc_was:
            gc.enable()
    best["_runs"] = n + 1
    return best


def time_entry(entry: dict, difrax, budget: float, repeats: int | None) -> dict:
    path = entry["path"]
    row = {k: entry[k] for k in ("label", "format", "points", "file", "group")}
    row["bytes"] = os.path.getsize(path)
    try:
        p = difrax.read(path)
        reference = (p.x, p.y)
    except Exception as e:  # the reader's error is the result
        row["error"] = "%s: %s" % (type(e).__name__, e)
        return row
    row["loaded_points"] = len(reference[0])

    def full():
        p = difrax.read(path)
        return p.x, p.y

    def read_only():
        return difrax.read(path)

    candidates = [("difrax", full), ("difrax.read", read_only)]
    peer_variants = {}
    for column, variants in peers_for(entry).items():
        for variant, fn in variants:
            try:
                ok = same_values(fn(), reference)
            except Exception as e:
                row.setdefault("peer_errors", {})[variant] = "%s: %s" % (type(e).__name__, e)
                continue
            if not ok:
                row.setdefault("peer_errors", {})[variant] = "result differs from difrax"
            key = "%s | %s" % (column, variant)
            peer_variants.setdefault(column, []).append(key)
            candidates.append((key, fn))
    best = best_times(candidates, budget, repeats)
    row["runs"] = best.pop("_runs")
    row["difrax_s"] = best["difrax"]
    row["read_s"] = best["difrax.read"]
    row["peers"] = {}
    for column, keys in peer_variants.items():
        key = min(keys, key=lambda k: best[k])
        row["peers"][column] = {"variant": key.split(" | ", 1)[1], "s": best[key],
                                "variants": {k.split(" | ", 1)[1]: best[k] for k in keys}}
    return row


# ---------------------------------------------------------------------------
# Memory

MEMORY_CHILD = r"""
import ctypes, gc, re, sys
import difrax

path = sys.argv[1]
libc = ctypes.CDLL(None)

def status():
    text = open("/proc/self/status").read()
    return {k: int(v) * 1024 for k, v in re.findall(r"^(VmHWM|VmRSS):\s+(\d+) kB", text, re.M)}

def settle():
    gc.collect()
    try:
        libc.malloc_trim(0)
    except AttributeError:
        pass

p = difrax.read(path)          # warm-up: first-call set-up is not a load's cost
x, y = p.x, p.y
del p, x, y
best_load = best_lists = None
for _ in range(3):
    settle()
    before = status()["VmRSS"]
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    p = difrax.read(path)
    load = status()["VmHWM"] - before
    x, y = p.x, p.y
    lists = status()["VmHWM"] - before
    del p, x, y
    best_load = load if best_load is None else min(best_load, load)
    best_lists = lists if best_lists is None else min(best_lists, lists)
print(best_load, best_lists)
"""


def measure_memory(path: str) -> tuple[int, int] | str:
    proc = subprocess.run([sys.executable, "-c", MEMORY_CHILD, path], capture_output=True, text=True)
    if proc.returncode != 0:
        lines = proc.stderr.strip().splitlines()
        return lines[-1] if lines else "exit %d" % proc.returncode
    load, lists = proc.stdout.split()
    return int(load), int(lists)


# ---------------------------------------------------------------------------
# Report


def fmt_ms(s: float) -> str:
    ms = s * 1e3
    return "%.3g" % ms if ms < 10 else "%.0f" % ms


def timing_table(rows: list[dict]) -> tuple[str, list[tuple[str, bool]]]:
    head = ("| format | points | MB | difrax read + .x/.y ms | MB/s | Mpoints/s | difrax.read ms | "
            + " | ".join(PEER_COLUMNS) + " | target | status |")
    lines = [head, "|---|" + "---:|" * (6 + len(PEER_COLUMNS)) + "---|---|"]
    verdicts = []
    for r in rows:
        mb = r["bytes"] / 1e6
        cells = [r["label"], points_text(r["points"]), "%.2f" % mb]
        targets = TARGETS.get((r["label"], r["points"]), [])
        target_text = ", ".join("≥%gx %s" % (m, c) for c, m in targets) or "—"
        if "error" in r:
            cells += ["—"] * (4 + len(PEER_COLUMNS)) + [target_text, "ERROR: " + r["error"].replace("|", "/")]
            if targets:
                verdicts.append(("%s %s: %s" % (r["label"], points_text(r["points"]), target_text), False))
            lines.append("| " + " | ".join(cells) + " |")
            continue
        t = r["difrax_s"]
        cells += [fmt_ms(t), "%.0f" % (mb / t), "%.2f" % (r["points"] / t / 1e6), fmt_ms(r["read_s"])]
        for c in PEER_COLUMNS:
            peer = r["peers"].get(c)
            cells.append("%.2fx (%s ms)" % (peer["s"] / t, fmt_ms(peer["s"])) if peer else "—")
        ok = True
        for c, m in targets:
            peer = r["peers"].get(c)
            good = bool(peer) and peer["s"] / t >= m
            ok = ok and good
            verdicts.append(("%s %s: difrax read + .x/.y ≥%gx %s (measured %s)" % (
                r["label"], points_text(r["points"]), m, c,
                "%.2fx" % (peer["s"] / t) if peer else "peer missing"), good))
        cells += [target_text, ("PASS" if ok else "FAIL") if targets else "—"]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines), verdicts


def memory_table(rows: list[dict]) -> tuple[str, list[tuple[str, bool]]]:
    lines = ["| format | points | input MiB | output arrays MiB | peak extra of one load MiB | "
             "extra / input | bound MiB | status | peak with .x/.y lists MiB |",
             "|---|---:|---:|---:|---:|---:|---:|---|---:|"]
    verdicts = []
    for r in rows:
        mem = r.get("memory")
        if mem is None:
            continue
        size = r["bytes"]
        out = 2 * 8 * r["points"]
        bound = size + 2 * out + MIB
        cells = [r["label"], points_text(r["points"]), "%.2f" % (size / MIB), "%.2f" % (out / MIB)]
        if isinstance(mem, str):
            cells += ["—", "—", "%.2f" % (bound / MIB), "ERROR: " + mem.replace("|", "/"), "—"]
            ok = False
        else:
            load, lists = mem
            ok = load <= bound
            cells += ["%.2f" % (load / MIB), "%.2f" % (load / size), "%.2f" % (bound / MIB),
                      "PASS" if ok else "FAIL", "%.2f" % (lists / MIB)]
        verdicts.append(("%s %s: peak extra memory ≤ input + 2 x output + 1 MiB" % (
            r["label"], points_text(r["points"])), ok))
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines), verdicts


def environment(difrax) -> str:
    parts = ["Python %s" % platform.python_version(), "difrax %s" % getattr(difrax, "__version__", "?")]
    for mod in ("numpy", "pandas", "gemmi", "pyarrow"):
        try:
            parts.append("%s %s" % (mod, __import__(mod).__version__))
        except Exception:
            pass
    try:
        import threadpoolctl

        for info in threadpoolctl.threadpool_info():
            if info.get("internal_api") == "openblas":
                parts.append("OpenBLAS %s (%s kernel)" % (info.get("version"), info.get("architecture")))
    except Exception:
        pass
    cpu = ""
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return "%s; %d cores%s" % (", ".join(parts), os.cpu_count() or 0, "; " + cpu if cpu else "")


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folder", help="folder written by bench/generate.py")
    ap.add_argument("--budget", type=float, default=3.0,
                    help="seconds of runs for the slowest candidate of a file (default 3)")
    ap.add_argument("--repeats", type=int, default=None, help="fixed number of interleaved rounds")
    ap.add_argument("--only", default="", help="comma-separated labels to run (default: all)")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory measurement")
    ap.add_argument("--json", help="also write the raw results to this file")
    args = ap.parse_args(argv)

    # numpy is timed without the OpenBLAS overrides some machines set: they
    # only slow current builds down, and they are read when numpy loads.
    if any(v in os.environ for v in OPENBLAS_VARS):
        env = {k: v for k, v in os.environ.items() if k not in OPENBLAS_VARS}
        os.execve(sys.executable, [sys.executable] + sys.argv, env)

    try:
        import difrax
    except ImportError as e:
        print("difrax is not importable: %s" % e, file=sys.stderr)
        return 2

    entries = read_manifest(args.folder)
    only = {s for s in args.only.split(",") if s}
    if only:
        entries = [e for e in entries if e["label"] in only]
    rows = []
    for e in entries:
        print("timing %-16s %s ..." % (e["label"], points_text(e["points"])), file=sys.stderr, flush=True)
        row = time_entry(e, difrax, args.budget, args.repeats)
        if not args.no_memory and "error" not in row:
            row["memory"] = measure_memory(e["path"])
        rows.append(row)

    timing, verdicts = timing_table(rows)
    memory, mem_verdicts = memory_table(rows)
    print("Environment: " + environment(difrax))
    print()
    print("Time: best of the interleaved runs; ratio = peer time / difrax read + .x/.y time "
          "(above 1 means difrax is faster).")
    print()
    print(timing)
    print()
    variants = [(r["label"], r["points"], c, p) for r in rows for c, p in r.get("peers", {}).items()]
    if variants:
        print("Peer variants (best of each, ms):")
        print()
        for label, n, column, p in variants:
            print("- %s %s, %s: %s" % (label, points_text(n), column, "; ".join(
                "%s %s" % (v, fmt_ms(s)) for v, s in sorted(p["variants"].items(), key=lambda kv: kv[1]))))
        print()
    errors = [(r["label"], r["points"], v, m) for r in rows for v, m in r.get("peer_errors", {}).items()]
    for label, n, v, m in errors:
        print("- peer %s on %s %s: %s" % (v, label, points_text(n), m))
    if errors:
        print()
    if not args.no_memory:
        print("Memory: peak extra resident memory of one difrax.read(path) in a fresh process "
              "(VmHWM after reset minus VmRSS before), best of 3 after a warm-up load.")
        print()
        print(memory)
        print()
    verdicts += mem_verdicts
    print("Targets:")
    print()
    for text, ok in verdicts:
        print("- %s %s" % ("PASS" if ok else "FAIL", text))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)
    return 0 if all(ok for _, ok in verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
