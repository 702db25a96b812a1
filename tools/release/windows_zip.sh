#!/usr/bin/env bash
# Packs one MinGW build of ZelkoLink into ZelkoLink-<version>-win64.zip or
# -win32.zip (the word size is read from the DLL itself):
#   bin/      ZelkoLink.dll and every program the build installs
#   lib/      ZelkoLink.lib (Visual Studio), libZelkoLink.dll.a (MinGW),
#             ZelkoLink.def and the CMake package (lib/cmake/ZelkoLink)
#   include/  zelkolink.h, zelkolink.hpp
#   share/zelkolink/wireshark/zelkolink.lua, the Wireshark dissector
#   LICENSE, README.md, CHANGELOG.md, docs/ (which README.md links to) and
#   the C# binding's source
#
#   tools/release/windows_zip.sh BUILD_DIR VERSION OUT_DIR
# Needs SOURCE_DATE_EPOCH: every entry gets that time, so the same build
# gives the same zip byte for byte.
set -euo pipefail
build=$1 version=$2 out=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
stage=${build}/release-zip
: "${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH must be set}"

rm -rf "${stage}"
cmake --install "${build}" --prefix "${stage}" --strip >/dev/null
dll=${stage}/bin/ZelkoLink.dll

case $(llvm-readobj --file-headers "${dll}" | sed -n 's/^ *Arch: //p') in
  x86_64) machine=i386:x86-64 suffix=win64 ;;
  i386) machine=i386 suffix=win32 ;;
  *) echo "windows_zip.sh: ${dll} is not an x86 or x86-64 DLL" >&2; exit 1 ;;
esac

# The module definition lists what the DLL really exports. From it
# llvm-dlltool writes the import library in Microsoft's short-import format.
# On 32-bit Windows a cdecl caller references _name: the tool decorates each
# undecorated name that way and records that the DLL exports it plain.
def=${stage}/lib/ZelkoLink.def
{
  echo "LIBRARY ZelkoLink.dll"
  echo "EXPORTS"
  llvm-readobj --coff-exports "${dll}" | sed -n 's/^ *Name: /  /p'
} >"${def}"
if [ "$(grep -c '^  ' "${def}")" -eq 0 ]; then
  echo "windows_zip.sh: ${dll} exports nothing" >&2
  exit 1
fi
llvm-dlltool -m "${machine}" -d "${def}" -l "${stage}/lib/ZelkoLink.lib"

# The CMake package is the zip's way in; pkg-config has no place on Windows.
rm -rf "${stage}/lib/pkgconfig"

cp "${source_dir}/LICENSE" "${source_dir}/README.md" "${source_dir}/CHANGELOG.md" "${stage}/"
cp -R "${source_dir}/docs" "${stage}/docs"
binding=bindings/dotnet/ZelkoLink.cs
if [ -f "${source_dir}/${binding}" ]; then
  install -D -m 644 "${source_dir}/${binding}" "${stage}/${binding}"
fi

# Fixed modes and times, entries in byte order, no extra attributes (-X), no
# directory entries (-D): nothing of the machine or the moment gets in.
find "${stage}" -type d -exec chmod 755 {} +
find "${stage}" -type f -exec chmod 644 {} +
find "${stage}" -type f \( -name '*.exe' -o -name '*.dll' \) -exec chmod 755 {} +
find "${stage}" -exec touch -h -d "@${SOURCE_DATE_EPOCH}" {} +
zip_path=$(realpath "${out}")/ZelkoLink-${version}-${suffix}.zip
rm -f "${zip_path}"
(cd "${stage}" && find . -type f -printf '%P\n' | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 -@ "${zip_path}")
echo "${zip_path}"
