#!/usr/bin/env bash
# Installs, from Debian's packages, what the full test run needs beyond the
# base image: the MinGW-w64 cross compilers (64- and 32-bit), Wine to run
# the Windows builds' tests, hidapi (with pkg-config to find it) for
# zelkolink-dump's live HID, tmux for the live view's test; for the
# bindings, the Python packages that build and test the wheels (into
# Debian's own /usr/bin/python3) and Mono's C# compiler and runtime; and
# the tools that build and check the release artifacts. Does nothing when
# everything is already there.
set -euo pipefail

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -x /usr/lib/wine/wine ] || missing+=(wine32:i386)
command -v wine >/dev/null || missing+=(wine)
pkg-config --exists hidapi-hidraw 2>/dev/null || missing+=(libhidapi-dev)
command -v tmux >/dev/null || missing+=(tmux)  # the live view's test
[ -x /usr/bin/python3 ] || missing+=(python3)
for module in build:python3-build setuptools:python3-setuptools wheel:python3-wheel \
              pytest:python3-pytest ensurepip:python3-venv; do
  /usr/bin/python3 -c "import ${module%%:*}" 2>/dev/null || missing+=("${module#*:}")
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
# The WebAssembly build (clang and wasm-ld come with clang and lld above).
[ -f /usr/lib/wasm32-wasi/libc.a ] || missing+=(wasi-libc)
[ -d /usr/lib/llvm-14/include/wasm32-wasi/c++/v1 ] || missing+=(libc++-14-dev-wasm32)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
