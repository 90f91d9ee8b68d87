#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
