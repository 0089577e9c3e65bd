#!/usr/bin/env bash
# A window no machine could hold is refused by the storage check before
# anything is allocated: under a 3 GB address-space limit, mfwindow-batch
# --window 2147483647 ends with "severe (6)" before it reads a series. The
# C++ API and Python take the settings and allocate nothing for a series
# too short for one window, surrogates or not: no window, no MemoryError.
# Each with a peak resident size below 64 MB. Guards against the batch tool
# growing to 24 GB until the kernel killed it, the API and Python module
# reaching 1.9 GB before failing, and a MemoryError for a series of 10
# samples with surrogates although no window runs.
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

limited "$api" 2147483647 99 10
check "C++ API" 0 "analysed: 0 windows"

if [ -n "$python" ]; then
  limited env PYTHONPATH="$pythonpath" "$python" -c '
import warnings, mfwindow
warnings.simplefilter("ignore")
r = mfwindow.analyse(list(range(10)), window=20000000, surrogates=99)
print("windows:", r.n_windows)
'
  check Python 0 "windows: 0"
fi
exit $fail
