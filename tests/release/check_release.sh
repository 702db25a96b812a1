#!/usr/bin/env bash
# The release stage of the test run: builds every artifact with the README's
# release command, twice, and checks that the second run gives the same bytes
# and that dist/ holds exactly the artifacts; then checks each artifact as a
# user receives it. Prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/../.."
work=build/release-tests
rm -rf "${work}"
mkdir -p "${work}"

step() {  # NAME COMMAND...: runs and times one step
  local name=$1 start=${SECONDS}
  shift
  "$@"
  echo "--- ${name}: $((SECONDS - start)) s"
}

release() {  # LOG: runs the release command, its output in LOG
  tools/release/make_release.sh >"${work}/$1" 2>&1 || { tail -n 30 "${work}/$1"; exit 1; }
}
step "make_release.sh" release make_release.log
cp dist/SHA256SUMS "${work}/first_run.sha256"
step "make_release.sh again" release make_release_again.log
diff -u "${work}/first_run.sha256" dist/SHA256SUMS || { echo "FAIL: a second run gave other bytes"; exit 1; }
echo "ok: a second run gave the same bytes"
(cd dist && sha256sum --quiet -c SHA256SUMS)

version=$(sed -n 's/^ *VERSION \([0-9][0-9.]*\)$/\1/p' CMakeLists.txt | head -n 1)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
{
  printf '%s\n' SHA256SUMS "ZelkoLink-${version}-win64.zip" "ZelkoLink-${version}-win32.zip" \
    "libzelkolink1_${version}-1_${arch}.deb" "libzelkolink-dev_${version}-1_${arch}.deb" \
    "zelkolink-tools_${version}-1_${arch}.deb" "zelkolink-${version}.tar.gz" \
    "zelkolink-${version}.tgz" "zelkolink-web-${version}.zip"
  if [ -f bindings/python/build_wheels.py ]; then find dist -name '*.whl' -printf '%f\n'; fi
} | LC_ALL=C sort >"${work}/expected.txt"
find dist -mindepth 1 -printf '%f\n' | LC_ALL=C sort >"${work}/actual.txt"
diff -u "${work}/expected.txt" "${work}/actual.txt" || { echo "FAIL: dist/ holds other files (- expected)"; exit 1; }
if [ -f bindings/python/build_wheels.py ] && ! ls dist/*.whl >/dev/null 2>&1; then
  echo "FAIL: bindings/python/build_wheels.py made no wheel"
  exit 1
fi
echo "ok: dist/ holds $(wc -l <"${work}/actual.txt") files:"
(cd dist && find . -type f -printf '  %10s  %P\n' | sort -k2)

step "win64 zip" tests/release/check_windows_zip.sh "dist/ZelkoLink-${version}-win64.zip" build/windows-x64 "${work}/win64"
step "win32 zip" tests/release/check_windows_zip.sh "dist/ZelkoLink-${version}-win32.zip" build/windows-x86 "${work}/win32"
step "Debian packages" tests/release/check_debian_packages.sh dist "${work}/debian"
step "npm package" tests/release/check_npm_package.sh "dist/zelkolink-${version}.tgz" "${work}/npm"
step "source tarball" tests/release/check_source_tarball.sh "dist/zelkolink-${version}.tar.gz" "${work}/source"
step "web zip" tests/release/check_web_zip.sh "dist/zelkolink-web-${version}.zip" "${work}/web"
