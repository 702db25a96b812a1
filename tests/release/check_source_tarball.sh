#!/usr/bin/env bash
# Checks the source tarball as a user meets it: one zelkolink-<version>/
# folder, no build outputs, the Wireshark dissector and the capture reader
# there, and the README's first command, read from the unpacked README
# itself, runs inside it and succeeds.
#   tests/release/check_source_tarball.sh TARBALL WORK_DIR
set -euo pipefail
tarball=$(realpath "$1") work=$2
fail() { echo "FAIL $(basename "${tarball}"): $*" >&2; exit 1; }
rm -rf "${work}"
mkdir -p "${work}"
work=$(realpath "${work}")

top=$(basename "${tarball}" .tar.gz)
tar -tzf "${tarball}" >"${work}/list.txt"
outside=$(grep -v "^${top}/" "${work}/list.txt" || true)
[ -z "${outside}" ] || fail "entries outside ${top}/: ${outside}"
built=$(grep -E "^${top}/(build|dist|install)/" "${work}/list.txt" || true)
[ -z "${built}" ] || fail "build outputs: ${built}"
for shipped in wireshark/zelkolink.lua bindings/python/zelkolink/capture.py; do
  grep -qx "${top}/${shipped}" "${work}/list.txt" || fail "${shipped} is missing"
done
tar -xzf "${tarball}" -C "${work}"

# The first fenced sh block of the README, whatever it says today.
command=$(awk '/^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside' "${work}/${top}/README.md")
[ -n "${command}" ] || fail "README.md has no sh block"
echo "running the README's first command in ${top}/: ${command}"
(cd "${work}/${top}" && bash -euo pipefail -c "${command}") >"${work}/first_command.log" 2>&1 ||
  fail "the README's first command fails: $(tail -n 20 "${work}/first_command.log")"
echo "ok $(basename "${tarball}"): $(wc -l <"${work}/list.txt") entries; the README's first command passes: $(tail -n 1 "${work}/first_command.log")"
