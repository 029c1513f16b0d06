#!/usr/bin/env bash
# Sets everything up on a fresh machine and loads the bundled example:
# system packages, a virtual environment in .venv with difrax installed, then
# a short summary of examples/corundum.xy and `difrax info` on the examples.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q .
.venv/bin/python examples/summary.py examples/corundum.xy
# The command-line tool, on the bundled example of every format.
.venv/bin/difrax info examples/corundum*
