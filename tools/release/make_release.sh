#!/usr/bin/env bash
# Builds every ZelkoLink release artifact into dist/:
#   ZelkoLink-<version>-win64.zip, ZelkoLink-<version>-win32.zip
#   libzelkolink1_, libzelkolink-dev_, zelkolink-tools_<version>-1_<arch>.deb
#   zelkolink-<version>.tar.gz, the committed tree as git archive gives it
#   the Python wheels, when bindings/python/build_wheels.py is there
#   zelkolink-<version>.tgz, the npm package (npm pack)
#   zelkolink-web-<version>.zip, the live page, from the wasm preset
#   SHA256SUMS
# The version is the project's own (CMake's project() call). Offline and
# reproducible: every time stamp is the last commit's (SOURCE_DATE_EPOCH), so
# the same tree gives the same files, byte for byte.
#
#   tools/release/make_release.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
export LC_ALL=C TZ=UTC
umask 022

# From a git archive every file carries the commit time, so an unpacked
# source tarball dates its release the same way a checkout does.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  in_git=yes
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "make_release.sh: warning: uncommitted changes are in the binaries but not in the source tarball" >&2
  fi
else
  in_git=no
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(stat -c %Y CMakeLists.txt)}
fi
export SOURCE_DATE_EPOCH

# The Windows builds are the presets' own (the test run has just built
# them); a missing one is configured first.
for preset in windows-x64 windows-x86; do
  if [ ! -f "build/${preset}/CMakeCache.txt" ]; then
    cmake --preset "${preset}" -DZELKOLINK_REQUIRE_ALL=ON >/dev/null
  fi
  cmake --build "build/${preset}"
done

# The Debian build: installed under /usr with Debian's compiler and linker
# flags, library and tools only (no bindings: their wheels are made below,
# from these very libraries). No run path, not even in the build tree: the
# library sits in a system folder, and a build path removed at install time
# would still leave its length in the programs' string table.
buildflags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S . -B build/release-linux -G Ninja --no-warn-unused-cli \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_INSTALL_LIBDIR="lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" \
  -DCMAKE_SKIP_RPATH=ON \
  -DCMAKE_C_FLAGS="$(buildflags CPPFLAGS) $(buildflags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(buildflags CPPFLAGS) $(buildflags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(buildflags LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(buildflags LDFLAGS)" \
  -DZELKOLINK_BUILD_TESTS=OFF -DZELKOLINK_BUILD_EXAMPLES=OFF -DZELKOLINK_BUILD_BENCHMARKS=OFF \
  -DZELKOLINK_BUILD_BINDINGS=OFF -DZELKOLINK_REQUIRE_ALL=ON \
  >/dev/null
cmake --build build/release-linux

version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' build/release-linux/ZelkoLinkConfigVersion.cmake)
if [ -z "${version}" ]; then
  echo "make_release.sh: no version in build/release-linux/ZelkoLinkConfigVersion.cmake" >&2
  exit 1
fi

rm -rf dist
mkdir dist
tools/release/windows_zip.sh build/windows-x64 "${version}" dist
tools/release/windows_zip.sh build/windows-x86 "${version}" dist
tools/release/debian_packages.sh build/release-linux "${version}" dist

if [ "${in_git}" = yes ]; then
  git archive --format=tar --prefix="zelkolink-${version}/" HEAD | gzip -9n >"dist/zelkolink-${version}.tar.gz"
  echo "dist/zelkolink-${version}.tar.gz"
else
  echo "make_release.sh: not a git checkout, so no source tarball" >&2
fi

if [ -f bindings/python/build_wheels.py ]; then
  libdir=build/release-linux/debian-packages/debian/libzelkolink1/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  /usr/bin/python3 bindings/python/build_wheels.py --out dist \
    --linux "${libdir}/libZelkoLink.so.1" \
    --win64 build/windows-x64/release-zip/bin/ZelkoLink.dll \
    --win32 build/windows-x86/release-zip/bin/ZelkoLink.dll
else
  echo "make_release.sh: no bindings/python/build_wheels.py, so no Python wheels" >&2
fi

# The npm package: the wasm preset's staged folder, packed. npm pack gives
# every entry the same fixed time stamp, so the tarball is reproducible.
if [ ! -f build/wasm/CMakeCache.txt ]; then
  cmake --preset wasm >/dev/null
fi
cmake --build build/wasm --target zelkolink_js_package
(cd build/wasm/js-package && npm pack --silent --pack-destination "${OLDPWD}/dist" >/dev/null)
if [ ! -f "dist/zelkolink-${version}.tgz" ]; then
  echo "make_release.sh: npm pack made no dist/zelkolink-${version}.tgz: is bindings/js/package.json's version ${version}?" >&2
  exit 1
fi
echo "dist/zelkolink-${version}.tgz"

# The live page: the same preset's site folder, the package's module inside.
cmake --build build/wasm --target zelkolink_web
tools/release/web_zip.sh build/wasm/web "${version}" dist

sums=$(cd dist && find . -type f -printf '%P\n' | sort | xargs sha256sum)
echo "${sums}" >dist/SHA256SUMS
echo "ZelkoLink ${version} in dist/:"
(cd dist && find . -type f -printf '%10s  %P\n' | sort -k2)
