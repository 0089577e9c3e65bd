#!/usr/bin/env bash
# Times the straightforward kernel against the fast engine the settings pick
# (1 thread and every core) on seven fixed inputs, in one run. Where that is
# the vector kernel (cases A, B, C, E) all of them must write the same bytes;
# where it is the segment-once kernel (D, F, G: the standard preset at shift
# <= window/4) the fast engine's runs must write the same bytes on 1 thread
# and on every core, and the largest difference from the reference's result
# columns is printed. Prints a table and writes it as JSON too.
#   bench/compare_engines.sh [BUILD_DIR] [--target NAME] [--runs N] [--json FILE]
#                            [--cases "A B C D E F G"]
# BUILD_DIR   default: build
# --target    hold the vector kernel's vector kernels to the instruction set
#             NAME or the best one below it (Highway's target mask): AVX3
#             (or AVX512), AVX2, SSE4, NEON, SCALAR. Default: the best one
#             this processor has.
# --runs      time each run N times and keep the fastest (default 1)
# --json      where the JSON goes (default BUILD_DIR/compare_engines-TARGET.json)
# --cases     which cases to run (default all)
# A: 20,000-sample random walk, Lrec 1000, MinScale 20, WinShift 50, order 2
# B: the same with order 5 and increments
# C: 100,000-sample random walk, Lrec 4096, MinScale 20, WinShift 512, order 1
# D: the standard preset (mfwindow-batch --method standard: profile, rms,
#    21 orders from -5 to 5, segments from both ends, log s fits) on C's
#    walk, window 1000, shift 100, order 2
# E: A's walk with WinShift 1 (dense windows: 19,001 of them), order 2
# F: the standard preset on A's walk, window 1000, shift 1, order 2
# G: the same with window 4096
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
target=""
runs=1
json=""
cases="A B C D E F G"
while (($#)); do
  case $1 in
    --target) target=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --json) json=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    -*) echo "usage: $0 [BUILD_DIR] [--target NAME] [--runs N] [--json FILE]" >&2
        exit 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(realpath "$build")
engine="$build/tests/mfwindow_engine"
[ -x "$engine" ] || { echo "build $engine first (cmake --build $build)"; exit 1; }
if [ -n "$target" ]; then export MFWINDOW_SIMD_TARGET=$target; fi
active=$("$engine" simd)
json=${json:-$build/compare_engines-$active.json}
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
  [C]=$'\n0\n1\n4096\n20\n512\n0 1\n'
  [E]=$'\n0\n2\n1000\n20\n1\n0 1\n')
walk 20000 11 > "$work/a.txt"
walk 100000 17 > "$work/c.txt"
declare -A series=([A]=a.txt [B]=a.txt [C]=c.txt [D]=c.txt [E]=a.txt
                   [F]=a.txt [G]=a.txt)
# Cases run by mfwindow-batch's flags instead of the dialogue.
declare -A batch_args=(
  [D]="--method standard --window 1000 --shift 100 --order 2"
  [F]="--method standard --window 1000 --shift 1 --order 2"
  [G]="--method standard --window 4096 --shift 1 --order 2")
# Cases whose fast engine is the segment-once kernel: within tolerance of
# the reference, not its bytes.
declare -A tolerance=([D]=1 [F]=1 [G]=1)

# case engine threads -> "seconds peak_kB cpu_seconds", the run of $runs
# with the shortest wall-clock time; cpu_seconds is user + system time, less
# disturbed than the wall clock on a shared machine.
run() {
  local dir="$work/out/$1-$2-$3" best="" r t m u s
  mkdir -p "$dir"
  cp "$work/${series[$1]}" "$dir/s.txt"
  echo s.txt > "$dir/list"
  printf '%s' "${answers[$1]:-}" > "$dir/answers"
  for ((r = 0; r < runs; r++)); do
    if [ -n "${batch_args[$1]:-}" ]; then
      # shellcheck disable=SC2086  # the flags split into words
      (cd "$dir" && /usr/bin/time -f "%e %M %U %S" -o time.txt \
         "$engine" batch "$2" --threads "$3" ${batch_args[$1]} s.txt \
         > console.txt)
    else
      (cd "$dir" && /usr/bin/time -f "%e %M %U %S" -o time.txt \
         "$engine" "$2" "$3" < answers > console.txt)
    fi
    read -r t m u s < "$dir/time.txt"
    if [ -z "$best" ] || [ "$(echo "$t < ${best%% *}" | bc -l)" = 1 ]; then
      best="$t $m $(printf '%.2f' "$(echo "$u + $s" | bc -l)")"
    fi
  done
  echo "$best"
}

cores=$(nproc)
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n1)
load=$(cut -d' ' -f1-3 /proc/loadavg)
printf 'cpu %s, nproc %s, load %s\n' "$cpu" "$cores" "$load"
printf 'vector kernel: SIMD target %s%s; best of %s run(s)\n' "$active" \
  "${target:+ (held to $target)}" "$runs"
printf '%-4s %-22s %9s %10s %9s %9s\n' case engine seconds "peak MB" speed-up "cpu s"
status=0
rows=()
for c in $cases; do
  read -r t_ref m_ref c_ref < <(run "$c" reference 1)
  printf '%-4s %-22s %9.2f %10.1f %9s %9.2f\n' "$c" reference "$t_ref" \
    "$(echo "$m_ref / 1024" | bc -l)" 1.0 "$c_ref"
  rows+=("{\"case\": \"$c\", \"engine\": \"reference\", \"threads\": 1, \"seconds\": $t_ref, \"peak_kb\": $m_ref, \"speedup\": 1.0, \"cpu_seconds\": $c_ref}")
  for threads in 1 "$cores"; do
    read -r t m cpu < <(run "$c" fast "$threads")
    speedup=$(printf '%.2f' "$(echo "$t_ref / $t" | bc -l)")
    printf '%-4s %-22s %9.2f %10.1f %9.1f %9.2f\n' "$c" "fast, $threads thread(s)" "$t" \
      "$(echo "$m / 1024" | bc -l)" "$speedup" "$cpu"
    rows+=("{\"case\": \"$c\", \"engine\": \"fast\", \"threads\": $threads, \"seconds\": $t, \"peak_kb\": $m, \"speedup\": $speedup, \"cpu_seconds\": $cpu}")
    dat="F(Alfa)/F(Alfa)_s.txt.dat"
    if [ -n "${tolerance[$c]:-}" ]; then
      if ! cmp -s "$work/out/$c-fast-1/$dat" "$work/out/$c-fast-$threads/$dat"; then
        echo "  $c: $dat differs between fast on 1 and $threads thread(s)"
        status=1
      fi
      # The largest difference of the result columns (printed to 6 digits).
      awk 'NR == FNR { for (i = 1; i <= NF; i++) a[FNR, i] = $i; next }
           { for (i = 1; i <= NF; i++) { d = a[FNR, i] - $i; if (d < 0) d = -d;
             if (d > m) m = d } }
           END { printf "  %s: largest difference from the reference: %g\n", c, m }' \
        c="$c" "$work/out/$c-reference-1/$dat" "$work/out/$c-fast-$threads/$dat"
      continue
    fi
    for f in console.txt "$dat"; do
      if ! cmp -s "$work/out/$c-reference-1/$f" "$work/out/$c-fast-$threads/$f"; then
        echo "  $c: $f differs between the reference and fast, $threads thread(s)"
        status=1
      fi
    done
  done
done
if [ $status -eq 0 ]; then
  echo "outputs: identical (console and result files) for every case and engine;"
  echo "  D, F, G: the fast engine's identical on 1 and $cores threads"
fi

{
  printf '{\n  "cpu": "%s",\n  "nproc": %s,\n  "load_average": "%s",\n' \
    "$cpu" "$cores" "$load"
  printf '  "simd_target": "%s",\n  "held_to": "%s",\n  "runs": %s,\n' \
    "$active" "$target" "$runs"
  printf '  "commit": "%s",\n' "$(git -C "$root" rev-parse --short HEAD 2>/dev/null || true)"
  printf '  "outputs_identical": %s,\n  "rows": [\n' \
    "$([ $status -eq 0 ] && echo true || echo false)"
  for ((i = 0; i < ${#rows[@]}; i++)); do
    printf '    %s%s\n' "${rows[$i]}" "$([ $i -lt $((${#rows[@]} - 1)) ] && echo ,)"
  done
  printf '  ]\n}\n'
} > "$json"
echo "json: $json"
exit $status
