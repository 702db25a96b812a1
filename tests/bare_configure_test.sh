#!/usr/bin/env bash
# The README's first command on a machine without the optional packages:
# hidapi, python3-build and pytest, Mono, the JSON parser and tshark are made
# unfindable (an empty pkg-config search path, a Python without them,
# program paths that lead nowhere, find_package disabled). Configure must
# name each part it leaves out, the build must finish, the example and the
# installed zelkolink-dump must print decoded rows, and --hid must say in one
# line what to install.
# Usage: bare_configure_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "${work}"
mkdir -p "${work}"
fail() { echo "FAILED: $*"; echo "bare configure: 1 failures"; exit 1; }

# A Python with the standard library alone: no build, no pytest.
python3 -m venv --without-pip "${work}/python"

PKG_CONFIG_LIBDIR= PKG_CONFIG_PATH= cmake -S "${source_dir}" -B "${work}/build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DZELKOLINK_BUILD_BENCHMARKS=OFF \
  -DZELKOLINK_PYTHON="${work}/python/bin/python3" \
  -DZELKOLINK_MCS="${work}/nowhere/mcs" -DZELKOLINK_MONO="${work}/nowhere/mono" \
  -DZELKOLINK_TSHARK="${work}/nowhere/tshark" \
  -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON \
  > "${work}/configure.log" 2>&1 || { cat "${work}/configure.log"; fail "configure failed"; }
grep "ZelkoLink" "${work}/configure.log"
for part in "live HID in zelkolink-dump and zelkolink-bridge (apt-get install libhidapi-dev)" \
            "--map in zelkolink-bridge (apt-get install nlohmann-json3-dev)" \
            "Python wheel (apt-get install python3-build python3-pytest)" \
            ".NET assembly (apt-get install mono-mcs mono-runtime)" \
            "Wireshark dissector test (apt-get install tshark)"; do
  grep -qF -- "ZelkoLink leaves out: ${part}" "${work}/configure.log" ||
    fail "the configure summary does not say it leaves out ${part}"
done

# The same with every part required: a missing dependency stops configure.
if PKG_CONFIG_LIBDIR= cmake -S "${source_dir}" -B "${work}/required" -G Ninja \
     -DZELKOLINK_REQUIRE_ALL=ON -DZELKOLINK_PYTHON="${work}/python/bin/python3" \
     > "${work}/required.log" 2>&1; then
  fail "ZELKOLINK_REQUIRE_ALL=ON configured without the optional packages"
fi
grep -q "ZELKOLINK_REQUIRE_ALL is on and parts are missing: install libhidapi-dev" \
  "${work}/required.log" || fail "REQUIRE_ALL's error does not name the packages"

cmake --build "${work}/build" > "${work}/build.log" 2>&1 || { tail -30 "${work}/build.log"; fail "build failed"; }
"${work}/build/bin/port_stream" | grep -q "inputs" || fail "port_stream printed no records"
cmake --install "${work}/build" --prefix "${work}/install" > /dev/null
rows=$("${work}/install/bin/zelkolink-dump" | wc -l)
[ "${rows}" -gt 1 ] || fail "the installed zelkolink-dump printed ${rows} lines"

status=0
"${work}/install/bin/zelkolink-dump" --hid 046d:c216 > "${work}/hid.out" 2> "${work}/hid.err" || status=$?
[ "${status}" -eq 2 ] || fail "--hid exited ${status}, not 2"
[ "$(wc -l < "${work}/hid.err")" -eq 1 ] && [ ! -s "${work}/hid.out" ] &&
  grep -q "^zelkolink-dump: this build has no live HID .*install libhidapi-dev and rebuild" \
    "${work}/hid.err" || fail "--hid said: $(cat "${work}/hid.err")"
"${work}/install/bin/zelkolink-dump" --help | grep -q "^Note: this build has no live HID" ||
  fail "--help does not say that this build has no live HID"
status=0
"${work}/install/bin/zelkolink-bridge" --from-file x --to-sbus y --map m.json \
  > /dev/null 2> "${work}/map.err" || status=$?
[ "${status}" -eq 2 ] && [ "$(wc -l < "${work}/map.err")" -eq 1 ] &&
  grep -q "^zelkolink-bridge: .*install nlohmann-json3-dev" "${work}/map.err" ||
  fail "--map exited ${status} and said: $(cat "${work}/map.err")"

echo "bare configure: ${rows} rows decoded, --hid refused in one line"
echo "bare configure: 0 failures"
