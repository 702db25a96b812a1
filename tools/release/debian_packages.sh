#!/usr/bin/env bash
# Builds ZelkoLink's Debian packages from a Linux build configured for /usr
# and the multiarch library folder (make_release.sh configures it):
#   libzelkolink1      the shared library and its SONAME link
#   libzelkolink-dev   headers, the .so link, pkg-config and CMake files
#   zelkolink-tools    every program the build installs, a man page each, and
#                      the Wireshark dissector in Wireshark's Lua plugin folder
# with dpkg-dev's own tools and no debhelper: control fields, Depends of the
# linked libraries, and the symbols file come from dpkg-gencontrol,
# dpkg-shlibdeps and dpkg-gensymbols, run in a debian/ folder laid out as
# they expect.
#
#   tools/release/debian_packages.sh BUILD_DIR UPSTREAM_VERSION OUT_DIR
# Needs SOURCE_DATE_EPOCH, the time every file and the changelog carry.
set -euo pipefail
build=$(realpath "$1") upstream_version=$2 out=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${here}/../.." && pwd)
: "${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH must be set}"

# First packaging of each upstream release: Debian revision 1.
version=${upstream_version}-1
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/${multiarch}
runtime=libzelkolink1 dev=libzelkolink-dev tools=zelkolink-tools

work=${build}/debian-packages
stage=${work}/stage
rm -rf "${work}"
mkdir -p "${work}/debian"
cp "${here}/debian/control" "${here}/debian/${runtime}.symbols" "${work}/debian/"
cd "${work}"
DESTDIR=${stage} cmake --install "${build}" >/dev/null

# Stripped as Debian strips: symbol tables and build notes out, the dynamic
# symbols and the build ID in. Shared objects are not executable.
while IFS= read -r -d '' file; do
  if [[ $(readelf -h "${file}" 2>/dev/null | sed -n 's/^ *Type: *//p') == DYN* && ${file} == *.so.* ]]; then
    strip --remove-section=.comment --remove-section=.note --strip-unneeded "${file}"
    chmod 644 "${file}"
  elif readelf -h "${file}" >/dev/null 2>&1; then
    strip --remove-section=.comment --remove-section=.note "${file}"
  fi
done < <(find "${stage}" -type f -print0)

# Each installed path goes to one package; anything left over is an error, so
# nothing a new install rule adds is silently left out.
take() {
  local package=$1 path
  shift
  for path in "$@"; do
    mkdir -p "debian/${package}/$(dirname "${path}")"
    mv "${stage}/${path}" "debian/${package}/${path}"
  done
}
soname_link=$(readlink "${stage}/${libdir}/libZelkoLink.so")
take "${runtime}" "${libdir}/${soname_link}" "${libdir}/$(readlink "${stage}/${libdir}/${soname_link}")"
take "${dev}" usr/include "${libdir}/libZelkoLink.so" "${libdir}/pkgconfig" "${libdir}/cmake"
mapfile -t programs < <(cd "${stage}" && find usr/bin -type f | LC_ALL=C sort)
take "${tools}" "${programs[@]}"
# The Wireshark dissector goes into Wireshark's global Lua plugin folder
# (tshark -G folders names it), where Wireshark loads it by itself.
plugins=debian/${tools}/${libdir}/wireshark/plugins
mkdir -p "${plugins}"
mv "${stage}/usr/share/zelkolink/wireshark/zelkolink.lua" "${plugins}/"
# zelkolink-dump answers Wireshark's extcap calls: linked into the extcap
# folder, it makes the device's port a capture interface.
mkdir -p "debian/${tools}/${libdir}/wireshark/extcap"
ln -s /usr/bin/zelkolink-dump "debian/${tools}/${libdir}/wireshark/extcap/zelkolink"
leftover=$(find "${stage}" ! -type d)
if [ -n "${leftover}" ]; then
  echo "debian_packages.sh: installed but in no package:" "${leftover}" >&2
  exit 1
fi
mkdir -p "debian/${runtime}/DEBIAN" "debian/${dev}/DEBIAN" "debian/${tools}/DEBIAN"

# debian/changelog, read by dpkg-gencontrol and shipped as changelog.Debian.gz.
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
cat >debian/changelog <<EOF
zelkolink (${version}) unstable; urgency=medium

  * Upstream release ${upstream_version}; changelog.gz lists what it brings.

 -- ${maintainer}  $(date -u -R -d "@${SOURCE_DATE_EPOCH}")
EOF

# Machine-readable copyright, with the licence text taken from LICENSE.
copyright_holder=$(sed -n 's/^Copyright (c) //p' "${source_dir}/LICENSE")
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: ZelkoLink"
  echo
  echo "Files: *"
  echo "Copyright: ${copyright_holder}"
  echo "License: Expat"
  sed -n '/^Permission/,$p' "${source_dir}/LICENSE" | sed 's/^$/./; s/^/ /'
} >debian/copyright

date=$(date -u -d "@${SOURCE_DATE_EPOCH}" +%Y-%m-%d)
for program in "${programs[@]}"; do
  name=$(basename "${program}")
  mkdir -p "debian/${tools}/usr/share/man/man1"
  LD_LIBRARY_PATH=debian/${runtime}/${libdir} "debian/${tools}/${program}" --help |
    "${here}/help_to_man.py" --name "${name}" --version "${upstream_version}" --date "${date}" |
    gzip -9n >"debian/${tools}/usr/share/man/man1/${name}.1.gz"
done

# The runtime package tells dependants what to depend on: a symbols file
# checked against the library's real exports (any difference fails), and the
# older shlibs form beside it. Programs are linked against it by ldconfig.
dpkg-gensymbols -q -c4 -p"${runtime}" -P"debian/${runtime}" -v"${version}"
soname=$(basename "${soname_link}")
echo "${soname%%.so.*} ${soname##*.so.} ${runtime} (>= ${upstream_version})" >"debian/${runtime}/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"debian/${runtime}/DEBIAN/triggers"

dpkg-shlibdeps -Tdebian/${runtime}.substvars "debian/${runtime}/${libdir}/${soname}"
if [ ${#programs[@]} -gt 0 ]; then
  dpkg-shlibdeps -Tdebian/${tools}.substvars "${programs[@]/#/debian/${tools}/}"
fi

for package in "${runtime}" "${dev}" "${tools}"; do
  docs=debian/${package}/usr/share/doc/${package}
  mkdir -p "${docs}"
  cp debian/copyright "${docs}/copyright"
  gzip -9n <debian/changelog >"${docs}/changelog.Debian.gz"
  gzip -9n <"${source_dir}/CHANGELOG.md" >"${docs}/changelog.gz"
  touch -a "debian/${package}.substvars"
  dpkg-gencontrol -p"${package}" -P"debian/${package}" -Tdebian/${package}.substvars
  (cd "debian/${package}" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' |
    LC_ALL=C sort -z | xargs -0 -r md5sum >DEBIAN/md5sums)
  find "debian/${package}" -type d -exec chmod 755 {} +
  find "debian/${package}" -type f ! -perm -u+x -exec chmod 644 {} +
  find "debian/${package}" -type f -perm -u+x -exec chmod 755 {} +
  find "debian/${package}" -exec touch -h -d "@${SOURCE_DATE_EPOCH}" {} +
  dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "debian/${package}" "${out}" |
    sed -n "s/^dpkg-deb: building package '.*' in '\(.*\)'\.$/\1/p"
done
