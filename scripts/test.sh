#!/usr/bin/env bash
# Builds and runs the whole test suite: the C++ library tests (GoogleTest via
# ctest) and the Python module tests (pytest) on every CPython 3.11+ found.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=Release -DDIFRAX_BUILD_TESTS=ON >/dev/null
cmake --build build/tests -j"$jobs"
ctest --test-dir build/tests --output-on-failure -j"$jobs"

# Every CPython from 3.11 on that this machine has; python3 at least.
pythons=()
for candidate in python3 python3.11 python3.12 python3.13 python3.14 /root/.pyenv/versions/3.1[1-9]*/bin/python3; do
  exe=$(command -v "$candidate" 2>/dev/null) || continue
  "$exe" -c 'import sys; sys.exit(sys.version_info < (3, 11))' 2>/dev/null || continue
  version=$("$exe" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  case " ${seen:-} " in *" $version "*) continue ;; esac
  seen="${seen:-} $version"
  pythons+=("$exe")
done

for exe in "${pythons[@]}"; do
  version=$("$exe" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  venv=build/venv-$version
  echo "== Python $version ($exe)"
  [ -x "$venv/bin/python" ] || "$exe" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --upgrade pip
  "$venv/bin/python" -m pip install -q . pytest hypothesis mypy
  (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
done
