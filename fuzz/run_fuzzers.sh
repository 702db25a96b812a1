#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, one after
# the other, and fails on any finding.
#
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS
#
# BUILD_DIR is a build with ZELKOLINK_BUILD_FUZZERS=ON (cmake --preset fuzz
# gives build/fuzz); SECONDS is each target's time. Each target starts from
# a scratch copy of its seed corpus and saved regressions, so the committed
# corpus never grows. Logs go to BUILD_DIR/fuzz-logs/, and the input of any
# crash, failed check, leak or hang to BUILD_DIR/fuzz-findings/<target>/:
# copy it to tests/fuzz_regressions/<target>/ to replay it with the tests.
set -euo pipefail

if [ $# -ne 2 ] || ! [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(port_stream hid_game_controller hid_compatible sbus_encode sbus_convert command_frames
         pcapng_reader)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-logs"

# A finished run prints final stats; a run stopped by a finding does not, so
# its last status line gives the figures instead.
executions() {
  awk '$1 == "stat::number_of_executed_units:" { n = $2; done = 1 }
       !done && /^#[0-9]+/ { n = substr($1, 2) } END { print n }' "$1"
}
exec_rate() {
  awk '$1 == "stat::average_exec_per_sec:" { r = $2; done = 1 }
       !done { for (i = 1; i < NF; i++) if ($i == "exec/s:") r = $(i + 1) } END { print r }' "$1"
}

failed=()
printf '%-22s %14s %10s  %s\n' target executions exec/s result
for target in "${targets[@]}"; do
  fuzzer="$build/bin/${target}_fuzzer"
  if [ ! -x "$fuzzer" ]; then
    echo "$fuzzer is missing: configure with ZELKOLINK_BUILD_FUZZERS=ON and build" >&2
    exit 2
  fi
  corpus="$scratch/$target"
  findings="$build/fuzz-findings/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus"
  rm -rf "$findings" && mkdir -p "$findings"
  cp "$root/fuzz/corpus/$target/"* "$corpus/"
  if [ -d "$root/tests/fuzz_regressions/$target" ]; then
    find "$root/tests/fuzz_regressions/$target" -maxdepth 1 -type f -exec cp {} "$corpus/" \;
  fi

  status=0
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?

  result=ok
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    result="FINDING (exit $status): see $log and $findings"
    failed+=("$target")
  else
    rmdir "$findings"
  fi
  printf '%-22s %14s %10s  %s\n' "$target" "$(executions "$log")" "$(exec_rate "$log")" "$result"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "findings in: ${failed[*]}" >&2
  exit 1
fi
