#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a while:
#   tests/fuzz/run.sh [SECONDS_PER_TARGET]     (default 60)
# Each target starts from a copy of its corpus in tests/fuzz/corpus/, so the
# committed corpus never grows. Crash inputs are copied to
# build-fuzz/findings/ (and the log of each target to build-fuzz/logs/).
# Exits non-zero when any target crashed, leaked, timed out or ran out of
# memory.
#
# Environment: CXX (default clang++), BUILD_DIR (default build-fuzz),
# FUZZ_TARGETS (default: all four), FUZZ_MAX_LEN (default 4096).
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "usage: $0 [SECONDS_PER_TARGET]" >&2
  exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
targets=${FUZZ_TARGETS:-"free_read_fuzz text_record_fuzz general_real_fuzz program_fuzz"}
max_len=${FUZZ_MAX_LEN:-4096}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
  >/dev/null
cmake --build "$build"

work=$(mktemp -d "${TMPDIR:-/tmp}/mfwindow-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/findings" "$build/logs"

# A single input may take this long before it counts as a hang: the program
# target runs the whole program twice per input.
timeout_for() {
  case $1 in
    program_fuzz) echo 60 ;;
    *) echo 10 ;;
  esac
}

failed=0
summary=()
for target in $targets; do
  corpus="$work/corpus/$target"
  artifacts="$work/artifacts/$target"
  scratch="$work/scratch/$target"
  tmp="$work/tmp/$target"
  mkdir -p "$corpus" "$artifacts" "$scratch" "$tmp"
  if [[ -d $here/corpus/$target ]]; then
    cp -R "$here/corpus/$target/." "$corpus/"
  fi
  log="$build/logs/$target.log"
  echo "== $target: ${seconds}s"
  status=0
  # Run inside an empty folder: the program target checks that nothing
  # appears in its current directory. Its run folders go to TMPDIR.
  (cd "$scratch" && TMPDIR="$tmp" "$build/$target" \
    -max_total_time="$seconds" -timeout="$(timeout_for "$target")" \
    -rss_limit_mb=2048 -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus") >"$log" 2>&1 || status=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  found=$(find "$artifacts" -type f | wc -l)
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::)' "$log" || true
  if ((status != 0 || found > 0)); then
    failed=1
    echo "!! $target failed (exit status $status, $found input(s) saved):"
    grep -E 'INVARIANT FAILED|detail:|ERROR: |SUMMARY: |runtime error' "$log" |
      head -n 20 || true
    for f in "$artifacts"/*; do
      [[ -f $f ]] || continue
      cp "$f" "$build/findings/$target-$(basename "$f")"
      echo "   input: $build/findings/$target-$(basename "$f")"
    done
    echo "   log: $log"
    summary+=("$target: ${execs:-?} executions (${rate:-?}/s), FAILED")
  else
    summary+=("$target: ${execs:-?} executions (${rate:-?}/s), no findings")
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed
