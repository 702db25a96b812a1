#!/usr/bin/env bash
# The whole test run: installs what is missing, then builds and tests the
# Linux shared object and the Windows DLL (under Wine) from the same sources.
set -euo pipefail
cd "$(dirname "$0")/.."

tests/install_dependencies.sh

for preset in linux windows-x64; do
  echo "=== ${preset}"
  cmake --preset "${preset}"
  cmake --build --preset "${preset}"
  ctest --preset "${preset}"
done
