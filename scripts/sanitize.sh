#!/usr/bin/env bash
# The test suites under AddressSanitizer and UndefinedBehaviorSanitizer:
#   1. the C++ tests, built with DIFRAX_SANITIZE=ON in build-asan;
#   2. the Python tests, against the module built with DIFRAX_SANITIZE=ON
#      into the virtual environment build-asan/venv.
#   3. with --valgrind, also the C++ tests of a plain build (build-asan/plain)
#      under valgrind's memcheck.
# Any sanitizer or memcheck report fails the run (undefined behaviour aborts,
# ASan errors are fatal, leaks are reported by the C++ tests).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
jobs=$(nproc 2>/dev/null || echo 2)

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== C++ tests with ASan + UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIFRAX_SANITIZE=ON \
  -DDIFRAX_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Python tests against a module built with ASan + UBSan"
venv=build-asan/venv
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q pytest hypothesis
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps . -C cmake.define.DIFRAX_SANITIZE=ON \
  -C cmake.define.DIFRAX_BUILD_TOOLS=OFF \
  -C cmake.build-type=RelWithDebInfo
# The interpreter itself is not instrumented: the runtime goes first, and its
# leak check stays off (CPython keeps objects alive until exit).
asan_runtime=$(g++ -print-file-name=libasan.so)
(cd tests/python &&
  LD_PRELOAD="$asan_runtime" ASAN_OPTIONS=detect_leaks=0 \
  "../../$venv/bin/python" -m pytest -q -p no:cacheprovider .)

[ "${1:-}" = --valgrind ] || exit 0

echo "== C++ tests under valgrind memcheck"
command -v valgrind >/dev/null || {
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq valgrind >/dev/null
}
cmake -S . -B build-asan/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIFRAX_BUILD_TESTS=ON \
  -DDIFRAX_BUILD_TOOLS=OFF >/dev/null
cmake --build build-asan/plain -j"$jobs"
# GoogleTest prints a test parameter without a printer of its own byte by
# byte, padding included: those reads of uninitialised padding are its own.
suppressions=build-asan/plain/gtest-padding.supp
cat >"$suppressions" <<'SUPP'
{
   gtest-prints-parameter-padding-cond
   Memcheck:Cond
   ...
   fun:*PrintBytesInObjectTo*
}
{
   gtest-prints-parameter-padding-value
   Memcheck:Value8
   ...
   fun:*PrintBytesInObjectTo*
}
SUPP
failed=()
for test in build-asan/plain/test_*; do
  [ -f "$test" ] && [ -x "$test" ] || continue
  if ! valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
      --suppressions="$suppressions" "$test" --gtest_brief=1 >"$test.memcheck.log" 2>&1; then
    failed+=("$test")
    tail -40 "$test.memcheck.log"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "memcheck failed: ${failed[*]}" >&2
  exit 1
fi
echo "memcheck: no errors"
