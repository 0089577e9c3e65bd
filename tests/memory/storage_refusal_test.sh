#!/usr/bin/env bash
# A window no machine could hold is refused by the storage check before
# anything is allocated, by every entry point: under a 3 GB address-space
# limit, --window 2147483647 ends with "severe (6)" (mfwindow-batch), a
# std::bad_alloc (the C++ API) or a MemoryError (Python), each with a peak
# resident size below 64 MB. Guards against the batch tool growing to
# 24 GB until the kernel killed it, and the API and Python module reaching
# 1.9 GB before failing.
#   storage_refusal_test.sh BATCH HUGE_WINDOW [PYTHON PYTHONPATH]
set -euo pipefail
batch=$(realpath "$1")
api=$(realpath "$2")
python=${3:-}
pythonpath=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
seq 1 100 > s.txt
fail=0

# Runs "$@" under the limit; leaves its status in $status, its standard
# error and output in $work/out, its peak resident size in kB in $peak.
limited() {
  set +e
  (ulimit -v 3000000; /usr/bin/time -f %M -o "$work/rss" "$@") > "$work/out" 2>&1
  status=$?
  set -e
  peak=$(tail -n 1 "$work/rss")
}

check() {  # name, wanted status, wanted text
  if [ "$status" -ne "$2" ] || ! grep -q "$3" "$work/out"; then
    echo "FAIL $1: status $status, output:"; cat "$work/out"; fail=1
  elif [ "$peak" -ge 65536 ]; then
    echo "FAIL $1: peak RSS $peak kB"; fail=1
  else
    echo "ok   $1: status $status, peak RSS $peak kB: $(grep -m1 "$3" "$work/out")"
  fi
}

limited "$batch" --window 2147483647 --quiet s.txt
check mfwindow-batch 3 "mfwindow-batch: severe (6): insufficient virtual memory"

limited "$api" 2147483647
check "C++ API" 0 "refused: insufficient virtual memory"

if [ -n "$python" ]; then
  limited env PYTHONPATH="$pythonpath" "$python" -c '
import mfwindow
try:
    mfwindow.analyse(list(range(100)), window=2147483647)
except MemoryError as e:
    print("MemoryError:", e)
else:
    print("not refused")
'
  check Python 0 "MemoryError: insufficient virtual memory"
fi
exit $fail
