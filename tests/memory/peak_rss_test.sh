#!/usr/bin/env bash
# The series is never held in memory beyond one window: the peak resident
# size for a 400,000-sample series must equal, within a few MB, the peak for
# a 40,000-sample one (Lrec 1000, WinShift 1000). Guards against a reader
# that loads the whole series or a buffer that grows per window.
#   peak_rss_test.sh PROGRAM
set -euo pipefail
program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

peak_kb() {  # samples -> peak RSS in kB
  local dir="$work/$1"
  mkdir -p "$dir"
  # A deterministic random walk (LCG), one sample per line.
  awk -v n="$1" 'BEGIN { s = 12345; x = 0;
    for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648;
      x += s / 2147483648 - 0.5; printf "%.6f\n", x } }' > "$dir/s.txt"
  echo s.txt > "$dir/list"
  printf '\n0\n1\n1000\n20\n1000\n0 1\n' > "$dir/answers"
  (cd "$dir" && /usr/bin/time -f %M -o "$dir/rss" "$program" < answers > /dev/null)
  local lines
  lines=$(wc -l < "$dir/F(Alfa)/F(Alfa)_s.txt.dat")
  [ "$lines" -eq $(($1 / 1000)) ] || { echo "expected $(($1 / 1000)) lines, got $lines"; exit 1; }
  cat "$dir/rss"
}

small=$(peak_kb 40000)
large=$(peak_kb 400000)
echo "peak RSS: 40,000 samples ${small} kB, 400,000 samples ${large} kB"
if [ $((large - small)) -gt 4096 ]; then
  echo "FAIL: peak RSS grows with the series' length"
  exit 1
fi
