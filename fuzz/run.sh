#!/usr/bin/env bash
# Builds the fuzz targets, writes their seed corpora and runs every target for
# a given time, one after the other (one fuzzer process at a time).
#
#   bash fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60; TARGET is one of load raw gsas cif xml
# archive (all by default). The saved reproducers in fuzz/regressions/<target>
# are replayed first. Exits non-zero on any crash, leak, timeout, memory
# overrun or sanitizer report; the offending input is kept in
# fuzz/artifacts/<target>/. The corpus grown by a run stays in
# fuzz/corpus-run/<target> for the next run (neither folder is committed).
#
# Needs Debian's clang-19 and libclang-rt-19-dev (CXX=... picks another clang).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(load raw gsas cif xml archive)

cxx=${CXX:-clang++-19}
build=${DIFRAX_FUZZ_BUILD:-$root/build-fuzz}
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found; install the Debian packages clang-19 and libclang-rt-19-dev" >&2
  exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S fuzz -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

rm -rf "$build/seeds"
"$build/fuzz_seeds" "$build/seeds"
mapfile -t hints < <("$build/fuzz_seeds" --hints)
python3 fuzz/seeds_bench.py "$build/seeds" "${hints[@]}"
cat fuzz/dicts/*.dict >"$build/all.dict"

max_len() {
  case $1 in
    load) echo 131072 ;;
    archive) echo 262144 ;;
    *) echo 65536 ;;
  esac
}
dict() {
  case $1 in
    load) echo "$build/all.dict" ;;
    raw) echo fuzz/dicts/raw.dict ;;
    xml) echo fuzz/dicts/xml.dict ;;
    archive) echo fuzz/dicts/archive.dict ;;
    *) echo fuzz/dicts/text.dict ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary="$build/fuzz-summary.txt"
printf '%-8s %8s %12s %8s %8s %s\n' target seconds executions cov ft result >"$summary"
for target in "${targets[@]}"; do
  bin="$build/fuzz_$target"
  [ -x "$bin" ] || { echo "fuzz: unknown target $target" >&2; exit 2; }
  corpus=fuzz/corpus-run/$target
  artifacts=fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  log="$build/fuzz-$target.log"
  result=ok

  # Every saved reproducer must run clean.
  shopt -s nullglob
  regressions=(fuzz/regressions/"$target"/*)
  shopt -u nullglob
  if [ ${#regressions[@]} -gt 0 ]; then
    if ! "$bin" -timeout=10 -rss_limit_mb=2048 "${regressions[@]}" >"$build/regress-$target.log" 2>&1; then
      result="regression"
      echo "fuzz: $target: a saved reproducer fails again, see $build/regress-$target.log" >&2
    fi
  fi

  before=$(ls "$artifacts" | wc -l)
  echo "== fuzz_$target for ${seconds}s"
  set +e
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
    -dict="$(dict "$target")" -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$corpus" "$build/seeds/$target" >"$log" 2>&1
  status=$?
  set -e
  after=$(ls "$artifacts" | wc -l)
  if [ $status -ne 0 ] || [ "$after" -ne "$before" ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
    result="FINDING(status $status)"
    echo "fuzz: $target: finding, see $log and $artifacts" >&2
    grep -E 'ERROR:|runtime error:|SUMMARY:|Test unit written' "$log" | head -20 >&2 || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-8s %8s %12s %8s %8s %s\n' "$target" "$seconds" "${execs:--}" "${cov:--}" "${ft:--}" "$result" \
    | tee -a "$summary"
  [ "$result" = ok ] || failed+=("$target")
done

echo
cat "$summary"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in: ${failed[*]}" >&2
  exit 1
fi
