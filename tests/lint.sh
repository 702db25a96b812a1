#!/usr/bin/env bash
# Fails on any formatting difference in the C and C++ sources, and on any
# clang-tidy finding in the library and the tools. BUILD_DIR must hold a
# compile_commands.json (every preset writes one).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/linux}

mapfile -t sources < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp')
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files clean"

# Only what this build compiles: the Windows-only files (the DLL entry
# routine, the tools' Windows ports) and the stand-ins for parts this build
# has (live HID without hidapi) are not in its database.
mapfile -t checked < <(git ls-files 'src/*.cpp' 'tools/*.cpp' | python3 -c '
import json, os, sys
compiled = {os.path.realpath(entry["file"]) for entry in json.load(open(sys.argv[1]))}
print("\n".join(path for path in sys.stdin.read().split() if os.path.realpath(path) in compiled))
' "${build_dir}/compile_commands.json")
# One clang-tidy a file, as many at a time as there are cores: each writes
# its findings to a file of its own, so they are printed whole.
logs=$(mktemp -d)
trap 'rm -rf "${logs}"' EXIT
status=0
printf '%s\0' "${checked[@]}" | BUILD_DIR=${build_dir} LOGS=${logs} xargs -0 -n 1 -P "$(nproc)" \
  sh -c 'clang-tidy -p "${BUILD_DIR}" --quiet --extra-arg=-Wno-ignored-optimization-argument \
    "$1" > "${LOGS}/$(printf %s "$1" | tr / _).log" 2>&1' sh || status=$?
cat "${logs}"/*.log | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true
if [ "${status}" -ne 0 ]; then
  echo "clang-tidy: findings above (status ${status})"
  exit 1
fi
echo "clang-tidy: ${#checked[@]} files clean"
