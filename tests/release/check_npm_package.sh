#!/usr/bin/env bash
# Checks the npm package as its user receives it: the tarball holds the
# package's files and nothing else, installs with npm into an empty folder
# offline, and there runs docs/javascript.md's example, which must print the
# output the page shows.
#   tests/release/check_npm_package.sh dist/zelkolink-<version>.tgz WORK
set -euo pipefail
tarball=$(realpath "$1")
work=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "${work}"
mkdir -p "${work}/app"

expected="package/LICENSE package/README.md package/package.json package/zelkolink.d.ts package/zelkolink.js package/zelkolink.wasm"
actual=$(tar -tzf "${tarball}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
if [ "${actual}" != "${expected}" ]; then
  echo "FAIL: $(basename "${tarball}") holds: ${actual}"
  exit 1
fi

(cd "${work}/app" && npm install --offline --no-audit --no-fund --silent "${tarball}")
node "${source_dir}/bindings/js/tests/docs_example.mjs" "${work}/app"
echo "ok: $(basename "${tarball}") installs offline and runs the documented example"
