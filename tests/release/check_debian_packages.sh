#!/usr/bin/env bash
# Checks the Debian packages without installing anything: lintian finds no
# error and no warning beyond the accepted ones; each package holds its part
# of the library; the tools package holds the Wireshark dissector; every tool has a man page that carries every option of its
# --help; and the runtime and dev packages, unpacked into an empty root, let
# a program build through pkg-config and run.
#   tests/release/check_debian_packages.sh DIST_DIR WORK_DIR
set -euo pipefail
dist=$(realpath "$1") work=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL debian: $*" >&2; exit 1; }
rm -rf "${work}"
mkdir -p "${work}"
work=$(realpath "${work}")

shopt -s nullglob
runtime=("${dist}"/libzelkolink1_*.deb) dev=("${dist}"/libzelkolink-dev_*.deb) tools=("${dist}"/zelkolink-tools_*.deb)
if [ ${#runtime[@]} -ne 1 ] || [ ${#dev[@]} -ne 1 ] || [ ${#tools[@]} -ne 1 ]; then
  fail "want one each of libzelkolink1, libzelkolink-dev, zelkolink-tools in ${dist}"
fi

# Accepted warning: initial-upload-closes-no-bugs. The packages are published
# with the project's releases, not uploaded to Debian, so no ITP bug exists
# for their first changelog entry to close.
lintian --pedantic --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs \
  "${runtime[0]}" "${dev[0]}" "${tools[0]}" >"${work}/lintian.txt" 2>&1 ||
  fail "lintian: $(cat "${work}/lintian.txt")"
echo "ok lintian: $(grep -c '^[EWIPX]:' "${work}/lintian.txt" || true) remarks beyond the accepted warning"

# The SONAME link and the library in the runtime package, the .so link for
# the linker in the dev package, and nothing of either in the other.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libs() { dpkg-deb -c "$1" | grep -o "usr/lib/${multiarch}/libZelkoLink\.so[.0-9]*" | sort | tr '\n' ' '; }
[ "$(libs "${runtime[0]}")" = "usr/lib/${multiarch}/libZelkoLink.so.1 usr/lib/${multiarch}/libZelkoLink.so.1.0.0 " ] ||
  fail "libzelkolink1 holds $(libs "${runtime[0]}")"
[ "$(libs "${dev[0]}")" = "usr/lib/${multiarch}/libZelkoLink.so " ] || fail "libzelkolink-dev holds $(libs "${dev[0]}")"
dpkg-deb -f "${tools[0]}" Depends | grep -q 'libzelkolink1 (>= ' || fail "zelkolink-tools does not depend on libzelkolink1"

root=${work}/root
for package in "${runtime[0]}" "${dev[0]}" "${tools[0]}"; do dpkg-deb -x "${package}" "${root}"; done

# The dissector, unchanged, in Wireshark's global Lua plugin folder.
plugin=usr/lib/${multiarch}/wireshark/plugins/zelkolink.lua
cmp -s "${root}/${plugin}" "${source_dir}/wireshark/zelkolink.lua" ||
  fail "zelkolink-tools does not hold wireshark/zelkolink.lua as ${plugin}"
extcap=usr/lib/${multiarch}/wireshark/extcap/zelkolink
[ "$(readlink "${root}/${extcap}")" = /usr/bin/zelkolink-dump ] ||
  fail "zelkolink-tools does not link ${extcap} to /usr/bin/zelkolink-dump"
echo "ok zelkolink-tools: the Wireshark dissector in ${plugin%/*}"
export LD_LIBRARY_PATH=${root}/usr/lib/${multiarch}
programs=$(cd "${root}/usr/bin" && ls)
[ -n "${programs}" ] || fail "zelkolink-tools holds no program"
for program in ${programs}; do
  page=${root}/usr/share/man/man1/${program}.1.gz
  [ -f "${page}" ] || fail "${program} has no man page"
  LC_ALL=C MANWIDTH=200 man -l "${page}" >"${work}/${program}.man" 2>"${work}/${program}.man.err"
  [ ! -s "${work}/${program}.man.err" ] || fail "man ${program}: $(cat "${work}/${program}.man.err")"
  for option in $("${root}/usr/bin/${program}" --help | grep -oE '(^|[ [,])--?[a-z][a-z0-9-]*' | tr -d ' [,' | sort -u); do
    grep -qe "${option}" "${work}/${program}.man" || fail "man ${program} lacks ${option}"
  done
  echo "ok ${program}: man page with every option of --help"
done

# A user's program against the unpacked packages alone; ldd proves the
# library came from the unpacked root, not from the machine.
export PKG_CONFIG_PATH=${root}/usr/lib/${multiarch}/pkgconfig
read -r -a flags <<<"$(pkg-config --cflags --libs zelkolink)"
cc -std=c99 -Wall -Werror "${source_dir}/tests/consumer/consumer.c" "${flags[@]}" -o "${work}/pkg_config_consumer"
ldd "${work}/pkg_config_consumer" | grep -q "libZelkoLink.so.1 => ${root}/" ||
  fail "pkg_config_consumer does not load the unpacked library"
echo "ok pkg_config_consumer: $("${work}/pkg_config_consumer")"
