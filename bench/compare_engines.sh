#!/usr/bin/env bash
# Times the straightforward engine against the fast engine (1 thread and
# every core) on three fixed inputs, in one run, and checks that all of them
# write the same bytes.
#   bench/compare_engines.sh [BUILD_DIR]      (default: build)
# A: 20,000-sample random walk, Lrec 1000, MinScale 20, WinShift 50, order 2
# B: the same with order 5 and increments
# C: 100,000-sample random walk, Lrec 4096, MinScale 20, WinShift 512, order 1
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
engine="$build/tests/mfwindow_engine"
[ -x "$engine" ] || { echo "build $engine first (cmake --build $build)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

walk() {  # samples seed -> file: a random walk from a fixed-seed LCG
  awk -v n="$1" -v s="$2" 'BEGIN { x = 0;
    for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648;
      x += s / 2147483648 - 0.5; printf "%.9f\n", x } }'
}

declare -A answers=(
  [A]=$'\n0\n2\n1000\n20\n50\n0 1\n'
  [B]=$'\n1\n5\n1000\n20\n50\n0 1\n'
  [C]=$'\n0\n1\n4096\n20\n512\n0 1\n')
walk 20000 11 > "$work/a.txt"
walk 100000 17 > "$work/c.txt"
declare -A series=([A]=a.txt [B]=a.txt [C]=c.txt)

run() {  # case engine threads -> "seconds peak_kB", output kept in $work/out
  local dir="$work/out/$1-$2-$3"
  mkdir -p "$dir"
  cp "$work/${series[$1]}" "$dir/s.txt"
  echo s.txt > "$dir/list"
  printf '%s' "${answers[$1]}" > "$dir/answers"
  (cd "$dir" && /usr/bin/time -f "%e %M" -o time.txt \
     "$engine" "$2" "$3" < answers > console.txt)
  cat "$dir/time.txt"
}

cores=$(nproc)
printf 'nproc %s\n' "$cores"
printf '%-4s %-22s %9s %10s %9s\n' case engine seconds "peak MB" speed-up
status=0
for c in A B C; do
  read -r t_ref m_ref < <(run "$c" reference 1)
  printf '%-4s %-22s %9.2f %10.1f %9s\n' "$c" reference "$t_ref" \
    "$(echo "$m_ref / 1024" | bc -l)" 1.0
  for threads in 1 "$cores"; do
    read -r t m < <(run "$c" fast "$threads")
    printf '%-4s %-22s %9.2f %10.1f %9.1f\n' "$c" "fast, $threads thread(s)" "$t" \
      "$(echo "$m / 1024" | bc -l)" "$(echo "$t_ref / $t" | bc -l)"
    for f in console.txt "F(Alfa)/F(Alfa)_s.txt.dat"; do
      if ! cmp -s "$work/out/$c-reference-1/$f" "$work/out/$c-fast-$threads/$f"; then
        echo "  $c: $f differs between the reference and fast, $threads thread(s)"
        status=1
      fi
    done
  done
done
if [ $status -eq 0 ]; then
  echo "outputs: identical (console and result files) for every case and engine"
fi
exit $status
