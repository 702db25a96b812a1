#!/usr/bin/env bash
# Checks a Windows release zip as its users meet it: unpacked, it holds
# exactly the listed files; a C program links against lib/ZelkoLink.lib
# (clang in MinGW mode with lld) and runs under Wine beside bin/ZelkoLink.dll;
# find_package(ZelkoLink) works from the unpacked folder, giving a MinGW
# build libZelkoLink.dll.a and a Visual Studio-style toolchain ZelkoLink.lib.
#   tests/release/check_windows_zip.sh ZIP BUILD_DIR WORK_DIR
set -euo pipefail
zip=$(realpath "$1") build=$(realpath "$2") work=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL $(basename "${zip}"): $*" >&2; exit 1; }

case ${zip} in
  *-win64.zip) triplet=x86_64-w64-mingw32 msvc=x86_64-pc-windows-msvc loader=wine64 ;;
  *-win32.zip) triplet=i686-w64-mingw32 msvc=i686-pc-windows-msvc loader=wine ;;
  *) fail "not a -win64 or -win32 zip" ;;
esac
version=$(basename "${zip}" | sed 's/^ZelkoLink-\(.*\)-win[0-9]*\.zip$/\1/')
rm -rf "${work}"
mkdir -p "${work}"
work=$(realpath "${work}")
unzip -q "${zip}" -d "${work}/unpacked"
root=${work}/unpacked

# The expected list: the fixed files, every program the build installs (so a
# new tool needs no edit here), and the C# binding when the tree has one.
cmake --install "${build}" --prefix "${work}/installed" >/dev/null
{
  printf '%s\n' LICENSE README.md CHANGELOG.md bin/ZelkoLink.dll \
    include/zelkolink.h include/zelkolink.hpp \
    lib/ZelkoLink.def lib/ZelkoLink.lib lib/libZelkoLink.dll.a \
    lib/cmake/ZelkoLink/ZelkoLinkConfig.cmake lib/cmake/ZelkoLink/ZelkoLinkConfigVersion.cmake \
    lib/cmake/ZelkoLink/ZelkoLinkTargets.cmake lib/cmake/ZelkoLink/ZelkoLinkTargets-release.cmake \
    share/zelkolink/wireshark/zelkolink.lua
  (cd "${work}/installed" && find bin -name '*.exe')
  (cd "${source_dir}" && find docs -type f)
  if [ -f "${source_dir}/bindings/dotnet/ZelkoLink.cs" ]; then echo bindings/dotnet/ZelkoLink.cs; fi
} | LC_ALL=C sort >"${work}/expected.txt"
unzip -Z1 "${zip}" | LC_ALL=C sort >"${work}/actual.txt"
diff -u "${work}/expected.txt" "${work}/actual.txt" >&2 || fail "file list differs (- expected, + in the zip)"
# The README and the docs are read from the unpacked folder: every link
# between them (and to the header) must land on a file the zip holds.
for page in "${root}/README.md" "${root}"/docs/*.md; do
  for target in $(grep -o '](\([^)#]*\)' "${page}" | sed 's/^](//' | grep -v '^[a-z]*:'); do
    [ -e "$(dirname "${page}")/${target}" ] ||
      fail "${page#"${root}"/} links to ${target}, which the zip does not hold"
  done
done
strings -el "${root}/bin/ZelkoLink.dll" | grep -qx "${version}" || fail "the DLL's version resource lacks ${version}"

# Every wine run gets this prefix and writes to files, never to a pipe.
export WINEPREFIX=${work}/../wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# The loader itself: the `wine` launcher would start a 32-bit program with
# the 64-bit loader and fail it, where no 32-bit Wine is installed.
wine=/usr/lib/wine/${loader}
wine_runs=yes
"${wine}" --version >"${work}/wine-version.txt" 2>&1 || wine_runs=no
if [ "${wine_runs}" = yes ]; then
  "${source_dir}/tests/wine_session.sh" start "${wine}" >"${work}/wineboot.txt" 2>&1 ||
    fail "the Wine prefix could not be made: see ${work}/wineboot.txt"
  trap '"${source_dir}/tests/wine_session.sh" stop' EXIT
fi
run_under_wine() {  # EXE NAME: runs EXE, expects the consumer's line
  if [ "${wine_runs}" = no ]; then
    echo "SKIP $(basename "${zip}"): ${wine} cannot start here (no 32-bit programs on this kernel): $2 not run"
    return
  fi
  "${wine}" "$1" >"${work}/$2.out" 2>"${work}/$2.err" || fail "$2 exits $? under Wine: $(cat "${work}/$2.err")"
  grep -q "^consumer: ZelkoLink ${version} decoded inputs 1\.\.9" "${work}/$2.out" || fail "$2 printed: $(cat "${work}/$2.out")"
  echo "ok $(basename "${zip}"): $2 under Wine: $(tr -d '\r' <"${work}/$2.out")"
}

# Linked against ZelkoLink.lib alone, beside the DLL as a user would put it.
# Its imports must be names the DLL exports: on 32-bit that proves the
# import library maps the cdecl _name back to the plain export.
mkdir -p "${work}/lib_consumer"
cp "${root}/bin/ZelkoLink.dll" "${work}/lib_consumer/"
clang --target="${triplet}" -fuse-ld=lld -static -std=c99 -Wall -Werror -I"${root}/include" \
  "${source_dir}/tests/consumer/consumer.c" "${root}/lib/ZelkoLink.lib" \
  -L"$(dirname "$("${triplet}-gcc-posix" -print-libgcc-file-name)")" \
  -o "${work}/lib_consumer/consumer.exe"
imports() { llvm-readobj --coff-imports "$1" | sed -n '/Name: ZelkoLink.dll/,/^}/s/^ *Symbol: \([^ ]*\).*/\1/p' | sort; }
exports() { llvm-readobj --coff-exports "$1" | sed -n 's/^ *Name: //p' | sort; }
missing=$(comm -23 <(imports "${work}/lib_consumer/consumer.exe") <(exports "${root}/bin/ZelkoLink.dll"))
[ -z "$(imports "${work}/lib_consumer/consumer.exe")" ] && fail "the consumer imports nothing from ZelkoLink.dll"
[ -z "${missing}" ] || fail "the consumer imports names ZelkoLink.dll does not export: ${missing}"
run_under_wine "${work}/lib_consumer/consumer.exe" lib_consumer

# find_package from the unpacked zip, with the project's MinGW toolchain.
cmake -S "${source_dir}/tests/consumer" -B "${work}/find_package" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="${source_dir}/cmake/mingw-w64-${triplet%%-*}.cmake" \
  -DZelkoLink_DIR="${root}/lib/cmake/ZelkoLink" >"${work}/find_package.log" 2>&1 ||
  fail "find_package consumer does not configure: see ${work}/find_package.log"
cmake --build "${work}/find_package" >>"${work}/find_package.log" 2>&1 ||
  fail "find_package consumer does not build: see ${work}/find_package.log"
run_under_wine "${work}/find_package/consumer.exe" find_package_consumer

# A Visual Studio-style toolchain (clang for the MSVC target; configure only,
# as no Microsoft runtime is here) must be handed ZelkoLink.lib.
cmake -S "${source_dir}/tests/release/msvc_package" -B "${work}/msvc_package" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=clang -DCMAKE_C_COMPILER_TARGET="${msvc}" \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DZelkoLink_DIR="${root}/lib/cmake/ZelkoLink" \
  >"${work}/msvc_package.log" 2>&1 || fail "$(grep -A3 'Error' "${work}/msvc_package.log")"
echo "ok $(basename "${zip}"): $(wc -l <"${work}/actual.txt") files as listed; $(grep -o 'import library: .*' "${work}/msvc_package.log")"
