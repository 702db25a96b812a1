#!/usr/bin/env bash
# Installs, from Debian's packages, what the full test run needs beyond the
# base image: the MinGW-w64 cross compilers (64- and 32-bit), Wine to run
# the Windows builds' tests, hidapi (with pkg-config to find it) for
# zelkolink-dump's live HID, tmux for the live view's test, tshark for the
# Wireshark dissector's test; for the
# bindings, the Python packages that build and test the wheels (into
# Debian's own /usr/bin/python3) and Mono's C# compiler and runtime; and
# the tools that build and check the release artifacts. Does nothing when
# everything is already there.
set -euo pipefail

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
command -v wine >/dev/null || missing+=(wine)
pkg-config --exists hidapi-hidraw 2>/dev/null || missing+=(libhidapi-dev)
command -v tmux >/dev/null || missing+=(tmux)  # the live view's test
command -v tshark >/dev/null || missing+=(tshark)  # the Wireshark dissector's test
[ -x /usr/bin/python3 ] || missing+=(python3)
for module in build:python3-build setuptools:python3-setuptools wheel:python3-wheel \
              pytest:python3-pytest ensurepip:python3-venv; do
  /usr/bin/python3 -I -c "import ${module%%:*}" 2>/dev/null || missing+=("${module#*:}")
done
command -v mcs >/dev/null || missing+=(mono-mcs)
command -v mono >/dev/null || missing+=(mono-runtime)
# The release artifacts: Visual Studio's import library (llvm-dlltool), the
# zips' consumers (clang, lld), the Debian packages and their checks.
command -v llvm-dlltool >/dev/null || missing+=(llvm)
command -v clang >/dev/null || missing+=(clang)
command -v ld.lld >/dev/null || missing+=(lld)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v lintian >/dev/null || missing+=(lintian)
command -v man >/dev/null || missing+=(man-db)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v zip >/dev/null || missing+=(zip)
command -v unzip >/dev/null || missing+=(unzip)
command -v strings >/dev/null || missing+=(binutils)
command -v git >/dev/null || missing+=(git)
# The WebAssembly build (clang's wasm32 target with WASI's libc), the browser
# that tests the page, and the JSON parser of zelkolink-bridge's --map.
for package in wasi-libc libc++-14-dev-wasm32 libclang-rt-14-dev-wasm32 chromium \
               nlohmann-json3-dev; do
  dpkg -s "${package}" >/dev/null 2>&1 || missing+=("${package}")
done

# 32-bit Wine runs the 32-bit DLL's tests, on kernels that run 32-bit
# programs at all; without it those tests are registered disabled.
want_wine32=false
[ -x /usr/lib/wine/wine ] || want_wine32=true

if [ ${#missing[@]} -eq 0 ] && ! ${want_wine32}; then
  exit 0
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
# A mirror caught mid-sync fails one index now and then (seen with the i386
# security list); the install goes on with what was fetched and fails on its
# own if a package is really missing.
for attempt in 1 2 3; do
  apt-get update -q && break
  echo "apt-get update failed (attempt ${attempt}); retrying" >&2
  sleep 10
done
# tshark's package asks whether users outside the root group may capture
# packets: answered no beforehand, so the install never waits for it.
if [[ " ${missing[*]} " == *" tshark "* ]]; then
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
fi
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# i386 packages need their i386 index, which a mirror mid-sync can leave out
# of step with amd64's: a failure here costs only the 32-bit Wine runs.
if ${want_wine32}; then
  apt-get install -y -q --no-install-recommends wine32:i386 ||
    echo "warning: wine32:i386 could not be installed; the 32-bit Windows tests will not run" >&2
fi
