#!/usr/bin/env bash
# Packs the live page, as the wasm build lays it out in SITE (index.html,
# its modules, the zelkolink package's .js and .wasm, the sample capture),
# into zelkolink-web-<version>.zip with the site at the top:
#   tools/release/web_zip.sh SITE VERSION OUT_DIR
# Needs SOURCE_DATE_EPOCH: every entry gets that time and the entries are
# sorted, so the same site gives the same zip byte for byte.
set -euo pipefail
site=$1 version=$2 out=$3
: "${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH must be set}"
if [ ! -f "${site}/index.html" ] || [ ! -f "${site}/zelkolink.wasm" ]; then
  echo "web_zip.sh: ${site} holds no built site (index.html and zelkolink.wasm)" >&2
  exit 1
fi
stage=$(mktemp -d)
trap 'rm -rf "${stage}"' EXIT
cp -R "${site}/." "${stage}/"
find "${stage}" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "${stage}" -exec touch -h -d "@${SOURCE_DATE_EPOCH}" {} +
zip_path=$(realpath "${out}")/zelkolink-web-${version}.zip
rm -f "${zip_path}"
(cd "${stage}" && find . -type f -printf '%P\n' | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 -@ "${zip_path}")
echo "${zip_path}"
