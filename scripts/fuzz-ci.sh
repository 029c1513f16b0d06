#!/usr/bin/env bash
# CI fuzzing: builds the libFuzzer targets with clang and
# -fsanitize=fuzzer,address,undefined and runs each for 60 seconds (or the
# number of seconds given), starting from the generated seed corpora. Fails
# on any crash, leak, timeout or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
if ! command -v "${CXX:-clang++-19}" >/dev/null || ! ls /usr/lib/llvm-19/lib/clang/19/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "Installing Debian packages: clang-19 libclang-rt-19-dev"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-19 libclang-rt-19-dev >/dev/null
fi

exec bash fuzz/run.sh "${1:-60}"
