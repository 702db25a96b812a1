#!/usr/bin/env bash
# Checks zelkolink-web-<version>.zip as a user receives it: index.html at
# the top beside the package's module and .wasm; unpacked and served over
# http, its demo plays in headless chromium.
#   tests/release/check_web_zip.sh ZIP WORK_DIR
set -euo pipefail
zip=$1 work=$2
rm -rf "${work}"
mkdir -p "${work}/site"
unzip -q "${zip}" -d "${work}/site"
for file in index.html manifest.webmanifest sw.js zelkolink.js zelkolink.wasm bridge-core.js bridge-core.wasm \
            sbus-writer.js capture.js replay.js sample_port_stream.pcapng; do
  [ -f "${work}/site/${file}" ] || { echo "FAIL: ${zip} has no ${file} at its top"; exit 1; }
done
# puppeteer-core as the wasm stage installed it, or installed here the same way.
modules=build/wasm/web-test
if [ ! -d "${modules}/node_modules/puppeteer-core" ]; then
  modules=${work}/modules
  cmake -DSOURCE=tests/web -DDESTINATION="${modules}" -DNPM=npm -P tests/web/install_puppeteer.cmake
fi
ZELKOLINK_WEB_MODULES=${modules} ZELKOLINK_NATIVE_BIN=build/linux/bin node tests/web/check_site.mjs "${work}/site"
echo "ok: ${zip}: $(unzip -Z1 "${zip}" | wc -l) files, $(du -sk "${work}/site" | cut -f1) KiB unpacked"
