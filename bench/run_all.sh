#!/usr/bin/env bash
# The whole benchmark in one command, from the repository root or anywhere:
#
#   bash bench/run_all.sh [--profile]
#
# 1. creates the virtual environment .venv-bench if needed and installs the
#    repository and bench/requirements.txt into it;
# 2. builds the C++ driver in build-bench (Release, with debug information
#    for the profiles);
# 3. writes the generated inputs into a temporary folder (removed at the end;
#    set BENCH_DATA=DIR to use or keep a folder of your own);
# 4. runs bench/run.py (difrax against its peers, peak memory), the driver
#    (core library throughput) and callgrind (instructions per MB for XY,
#    pdCIF and RAW3);
# 5. writes everything to docs/benchmarks.md.
#
# --profile also writes a callgrind profile of every input (top functions by
# own instructions) into the data folder's profile/ and keeps the folder.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
PROFILE=0
for arg in "$@"; do
    case "$arg" in
        --profile) PROFILE=1 ;;
        *) echo "usage: bash bench/run_all.sh [--profile]" >&2; exit 2 ;;
    esac
done

VENV="$ROOT/.venv-bench"
BUILD="$ROOT/build-bench"
PY="$VENV/bin/python"
COMMAND="bash bench/run_all.sh${1:+ $*}"

echo "== environment" >&2
if [ ! -x "$PY" ]; then
    python3 -m venv "$VENV"
fi
"$PY" -m pip install -q -r bench/requirements.txt
"$PY" -m pip install -q --force-reinstall --no-deps -C build-dir="$BUILD/python" .

echo "== driver" >&2
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \
    -DDIFRAX_BUILD_TESTS=OFF -DDIFRAX_BUILD_PYTHON=OFF -DDIFRAX_BUILD_TOOLS=ON >/dev/null
cmake --build "$BUILD" --target difrax_bench >/dev/null
DRIVER="$BUILD/bench/difrax_bench"

if [ -n "${BENCH_DATA:-}" ]; then
    DATA="$BENCH_DATA"
    mkdir -p "$DATA"
else
    DATA="$(mktemp -d "${TMPDIR:-/tmp}/difrax-bench.XXXXXX")"
    if [ "$PROFILE" = 0 ]; then
        trap 'rm -rf "$DATA"' EXIT
    fi
fi
echo "== inputs in $DATA" >&2
if [ ! -f "$DATA/manifest.tsv" ]; then
    "$PY" bench/generate.py "$DATA"
fi

OUT="$(mktemp -d "${TMPDIR:-/tmp}/difrax-bench-out.XXXXXX")"
trap 'rm -rf "$OUT"; if [ -z "${BENCH_DATA:-}" ] && [ "$PROFILE" = 0 ]; then rm -rf "$DATA"; fi' EXIT

echo "== python runner" >&2
# numpy runs without the OpenBLAS overrides some machines set (they only
# slow a current numpy down); nothing else changes.
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$PY" bench/run.py "$DATA" > "$OUT/runner.md" || true

echo "== core library driver" >&2
"$DRIVER" "$DATA" > "$OUT/driver.md" || true

echo "== callgrind" >&2
{
    echo "| format | file | MB | instructions | instructions per MB |"
    echo "|---|---|---:|---:|---:|"
    for name in xy_1e6.xy pdcif_1e6.cif raw3_1e6.raw; do
        file="$DATA/$name"
        label="$(awk -F'\t' -v f="$name" '$4 == f { n = $3; e = length(n) - 1;
            p = (n == "1" substr("0000000000", 1, e)) ? "10^" e : n; print $1 " " p }' "$DATA/manifest.tsv")"
        bytes="$(stat -c %s "$file")"
        if valgrind --tool=callgrind --callgrind-out-file="$OUT/callgrind.$name" \
            --toggle-collect='difrax::read_bytes_with_options*' "$DRIVER" --once "$file" >/dev/null 2>&1; then
            ir="$(awk '/^summary:/ { print $2 }' "$OUT/callgrind.$name")"
            awk -v l="$label" -v n="$name" -v b="$bytes" -v ir="$ir" \
                'BEGIN { printf "| %s | %s | %.2f | %d | %.0f |\n", l, n, b / 1e6, ir, ir / (b / 1e6) }'
        else
            echo "| $label | $name | — | — | load failed |"
        fi
    done
} > "$OUT/callgrind.md"

if [ "$PROFILE" = 1 ]; then
    echo "== profiles" >&2
    mkdir -p "$DATA/profile"
    : > "$DATA/profile/summary.txt"
    while IFS=$'\t' read -r label format points name group; do
        case "$label" in "#"*|"") continue ;; esac
        out="$DATA/profile/${name%.*}"
        valgrind --tool=callgrind --dump-instr=no --callgrind-out-file="$out.callgrind" \
            --toggle-collect='difrax::read_bytes_with_options*' "$DRIVER" --once "$DATA/$name" >/dev/null 2>&1 || true
        callgrind_annotate --threshold=95 "$out.callgrind" > "$out.txt" 2>/dev/null || true
        {
            echo "== $label $points ($name): $(awk '/^summary:/ { print $2 }' "$out.callgrind") instructions"
            grep -E '^ *[0-9,]+ \( *[0-9.]+%\)  ' "$out.txt" | sed -n '2,9p' | cut -c1-180
        } >> "$DATA/profile/summary.txt"
    done < "$DATA/manifest.tsv"
    echo "profiles in $DATA/profile (top functions: $DATA/profile/summary.txt)" >&2
fi

COMMIT="$(git describe --always --dirty 2>/dev/null || echo unknown)"
{
    echo "# Benchmarks"
    echo
    echo "Produced by \`$COMMAND\` on $(date -u +%Y-%m-%d) at commit $COMMIT, on a machine with"
    echo "$(nproc) cores shared with other work: absolute times are noisy, the ratios are measured"
    echo "side by side (interleaved runs, best of each) in one process and one run."
    echo
    echo "Inputs: \`bench/generate.py\` writes synthetic Cu K-alpha powder scans (background, amorphous"
    echo "hump, about forty reflections with K-alpha-2, Poisson counting noise, fixed seed) in every"
    echo "format, with numbers written as the instruments write them, into a temporary folder."
    echo "MB = 10^6 bytes of input; memory in MiB."
    echo
    echo "## difrax from Python against its peers"
    echo
    echo "\`bench/run.py\`: \`difrax.read(path)\` including reading \`.x\` and \`.y\` (Python lists), and"
    echo "\`difrax.read\` alone, against numpy.loadtxt and the fastest pandas.read_csv variant (XY),"
    echo "gemmi's CIF reader turned into float arrays (pdCIF) and ElementTree with float conversion"
    echo "(XRDML, counts times attenuation factors). A ratio above 1 means difrax is faster."
    echo "Each timed call's result is kept until the clock stops; freeing it is not timed."
    echo
    echo "What makes the loads fast: program-written XY and RASX rows, pdCIF loop values and XML"
    echo "number lists are read straight from the bytes in one pass (short decimals converted exactly"
    echo "by one multiplication or division; anything else goes through the general rules); pdCIF"
    echo "profile values are converted as the loop is split, so no text view per value is kept;"
    echo "file buffers, result arrays and result lists of 4 MiB and more are asked for huge pages (the core parse of"
    echo "the 10^6-row XY file took 21 ms before, 12 ms after); the file is read into a buffer"
    echo "that is not cleared first; validation compares two values at a time; on x86, jumps are"
    echo "kept off 32-byte boundaries (Intel's JCC erratum). The XY and RAW readers follow the"
    echo "order of the angles as they store them (every value they store is finite), so their"
    echo "patterns are not read a second time to be validated; RAW records are decoded a block at"
    echo "a time into local arrays, a loop with no call in it. In the result lists, equal values"
    echo "share one float object (counts repeat): building the list of 10^6 distinct angles (one"
    echo "new Python float each) remains the largest single cost of a large XY or pdCIF load from"
    echo "Python, and is why the pandas target, which compares lists with arrays, is out of reach:"
    echo "the results are lists of Python floats, and a load runs on the calling thread alone."
    echo "A BRML load gathers its Datum records as texts instead of elements, reserves their room"
    echo "at once (its pages are touched only as texts arrive) and gives expat texts above 1 MiB in"
    echo "pieces of 64 KiB (31 -> 11.3 MiB for 10^5 steps), but still holds the decompressed raw"
    echo "data member (about 7 times the archive, itself above the bound) and its tree while expat"
    echo "reads it. DIFFRAC.SUITE writes the column definitions (DataViews) after the Datum records,"
    echo "and so does the generated file: a reader in one pass must keep the records until it"
    echo "knows what their columns are, so they cannot be converted as they stream past."
    echo
    cat "$OUT/runner.md"
    echo
    echo "## Core library alone"
    echo
    echo "\`build-bench/bench/difrax_bench DIR\`: each file read into memory once, then parsed with"
    echo "\`difrax::read_bytes_with_options\`; best of at least 5 runs and 0.5 s. Freed memory stays in"
    echo "the process's heap between runs (as in a process that loads one file after another), so"
    echo "that a run does not also time the kernel clearing fresh pages, as it otherwise did or did"
    echo "not depending on what earlier inputs had left in the allocator."
    echo
    cat "$OUT/driver.md"
    echo
    echo "## Instructions per MB"
    echo
    echo "\`valgrind --tool=callgrind --toggle-collect='difrax::read_bytes_with_options*'"
    echo "build-bench/bench/difrax_bench --once FILE\`: instructions executed inside one load, the"
    echo "figure to compare commits with (it does not depend on the machine's load)."
    echo
    cat "$OUT/callgrind.md"
} > docs/benchmarks.md
echo "wrote docs/benchmarks.md" >&2
