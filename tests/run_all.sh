#!/usr/bin/env bash
# The whole test run: installs what is missing, then builds and tests the
# Linux shared object (plain, under valgrind, and with AddressSanitizer and
# UndefinedBehaviorSanitizer), the 64- and 32-bit Windows DLLs under Wine,
# builds and checks the release artifacts, lints the sources, and runs every
# fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

tests/install_dependencies.sh

for preset in linux windows-x64 windows-x86 sanitize; do
  echo "=== ${preset}"
  # Every optional part is required here: a missing package fails loudly
  # instead of leaving its tests out.
  cmake --preset "${preset}" -DZELKOLINK_REQUIRE_ALL=ON
  cmake --build --preset "${preset}"
  ctest --preset "${preset}"
done

# The WebAssembly module and the npm package, after linux: their tests
# compare with the native tools it built and run the Node.js example
# against its simulator. The live page's browser test runs here too, in
# chromium against the same simulator.
echo "=== wasm"
cmake --preset wasm -DZELKOLINK_REQUIRE_ALL=ON
cmake --build --preset wasm
ctest --preset wasm

echo "=== release"
tests/release/check_release.sh

echo "=== lint"
tests/lint.sh build/linux

echo "=== fuzz"
cmake --preset fuzz -DZELKOLINK_REQUIRE_ALL=ON
cmake --build --preset fuzz
# 30 s a fuzzer keeps the whole run under 20 minutes on two cores; longer
# campaigns are run by hand (fuzz/run_fuzzers.sh BUILD SECONDS).
fuzz/run_fuzzers.sh build/fuzz "${ZELKOLINK_FUZZ_SECONDS:-30}"

# Any failure above has already stopped the run.
echo "stages: 8 passed, 0 failed (linux, windows-x64, windows-x86, sanitize, wasm, release, lint, fuzz)"
