#!/bin/sh
# examples/slurm/mfwindow-array.sh under a faked Slurm environment, then
# examples/merge_shards.py on what its tasks wrote:
#   slurm_array_test.sh BATCH SOURCE_DIR PYTHON WORK
# For arrays numbered from 1, from 0 and in steps, each series of the list
# lands in exactly one task's results, and the merged table of the tasks is
# byte for byte the merged table of one unsharded run, whose rows are the
# result files' rows. A missing series makes its task end with status 1 and
# comes out as a failed row and in the rerun list; rerunning that list
# completes the table.
# $settings is split into its VAR=value words on purpose.
# shellcheck disable=SC2086
set -eu
batch=$1 source_dir=$2 python=$3 work=$4
script=$source_dir/examples/slurm/mfwindow-array.sh
merge=$source_dir/examples/merge_shards.py

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/sub"
cd "$work"

# Seven small random walks (one in a subfolder, one too short for a
# window) from a fixed-seed generator.
walk() {
  awk -v n="$1" -v s="$2" 'BEGIN { x = 0;
    for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648;
      x += s / 2147483648 - 0.5; printf "%.9f\n", x } }'
}
: >list
for i in 1 2 3 4 5 6; do
  walk $((400 + 60 * i)) "$i" >"s$i.txt"
done
mv s4.txt sub/s4.txt
walk 100 9 >short.txt
printf 's1.txt\ns2.txt\n  sub/s4.txt\ns3.txt\n\nshort.txt\ns5.txt\ns6.txt\n' >list
names='s1.txt s2.txt sub/s4.txt s3.txt short.txt s5.txt s6.txt'

settings='WINDOW=256 SHIFT=64 ORDER=2 MIN_SCALE=20'
export MFWINDOW_BATCH="$batch" SLURM_CPUS_PER_TASK=1 SLURM_ARRAY_JOB_ID=77
# Guards a stale environment changing the shards.
unset SLURM_ARRAY_TASK_MIN SLURM_ARRAY_TASK_MAX SLURM_ARRAY_TASK_STEP \
  SLURM_ARRAY_TASK_COUNT SLURM_ARRAY_TASK_ID LIST OUT || true

# The unsharded run and its table.
"$batch" --window 256 --shift 64 --order 2 --min-scale 20 --format csv \
  --threads 1 --quiet --list list --out single 2>single.log ||
  fail "unsharded run: status $?: $(cat single.log)"
"$python" "$merge" --list list --out single single.csv ||
  fail "merge of the unsharded run: status $?"

# Each series' rows in the table are its result file's rows, after its
# name and the window's number; the short one is a "no window" row.
for name in $names; do
  awk -F, -v n="$name" '$1 == n' single.csv >rows.csv
  if [ "$name" = short.txt ]; then
    grep -q '^short.txt,0,,,,,,,no window,,,,,,,the series is shorter' rows.csv ||
      fail "short series: $(cat rows.csv)"
    continue
  fi
  tail -n +2 "single/F(Alfa)_$name.csv" >want.csv
  [ -s want.csv ] || fail "$name: no windows"
  cut -d, -f3- rows.csv | sed 's/,\r$/\r/' >got.csv
  cmp got.csv want.csv || fail "$name: merged rows differ from its result file"
  awk -F, '{ print $2 }' rows.csv >numbers.txt
  seq 1 "$(wc -l <want.csv)" | cmp - numbers.txt ||
    fail "$name: windows not numbered from 1"
done

# tasks MIN MAX STEP: runs the script once per task ID, each into a folder
# of its own; checks that the folders share no series and together hold
# them all; then merges them in one folder and compares with the
# unsharded table.
tasks() {
  min=$1 max=$2 step=$3
  rm -rf shards all
  count=$(((max - min) / step + 1))
  id=$min
  while [ "$id" -le "$max" ]; do
    env $settings OUT="shards/$id" SLURM_ARRAY_TASK_ID=$id \
      SLURM_ARRAY_TASK_MIN=$min SLURM_ARRAY_TASK_MAX=$max \
      SLURM_ARRAY_TASK_STEP=$step SLURM_ARRAY_TASK_COUNT=$count \
      bash "$script" 2>"task-$id.log" ||
      fail "array $min-$max:$step, task $id: status $?: $(cat "task-$id.log")"
    id=$((id + step))
  done
  (cd shards && find . -name '*.csv' | sed 's|^\./[^/]*/||' | sort) >seen.txt
  for name in $names; do
    echo "F(Alfa)_$name.csv"
  done | sort >want.txt
  cmp want.txt seen.txt ||
    fail "array $min-$max:$step: not each series once: $(cat seen.txt)"
  mkdir all
  for dir in shards/*; do cp -R "$dir/." all/; done
  "$python" "$merge" --list list --out all sharded.csv ||
    fail "array $min-$max:$step: merge status $?"
  cmp sharded.csv single.csv ||
    fail "array $min-$max:$step: merged table differs from the unsharded one"
}
tasks 1 3 1
tasks 0 3 1
tasks 10 30 10

# A missing series: its task ends with status 1 naming it, the other tasks
# complete, the table has a failed row and the rerun list names it; the
# rerun of that list as an array of one task completes the table.
mv s3.txt s3.keep
rm -rf results
for id in 1 2; do
  status=0
  env $settings SLURM_ARRAY_TASK_ID=$id SLURM_ARRAY_TASK_COUNT=2 \
    bash "$script" 2>"task-$id.log" || status=$?
  case $id in
  1) [ "$status" -eq 0 ] || fail "task 1: status $status" ;;
  2) [ "$status" -eq 1 ] || fail "task 2 (s3.txt missing): status $status"
     grep -q 's3.txt.*series skipped' task-2.log ||
       fail "task 2's log does not name s3.txt: $(cat task-2.log)" ;;
  esac
done
status=0
"$python" "$merge" --list list --out results --missing rerun.list merged.csv \
  2>merge.log || status=$?
[ "$status" -eq 1 ] || fail "merge with a failed series: status $status"
[ "$(cat rerun.list)" = s3.txt ] || fail "rerun list: $(cat rerun.list)"
grep -q '^s3.txt,0,,,,,,,failed,,,,,,,no result file' merged.csv ||
  fail "no failed row for s3.txt: $(grep s3.txt merged.csv)"
[ "$(grep -c '^s3.txt,' merged.csv)" -eq 1 ] || fail "s3.txt: more than one row"
mv s3.keep s3.txt
env $settings LIST=rerun.list SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_COUNT=1 \
  bash "$script" 2>rerun.log || fail "rerun: status $?: $(cat rerun.log)"
"$python" "$merge" --list list --out results merged.csv ||
  fail "merge after the rerun: status $?"
cmp merged.csv single.csv || fail "table after the rerun differs"

# A 0-byte result ended the whole merge with status 2, and a cut last line
# was merged as a shorter number: both are "cut" rows on the rerun list.
cp -r results cut
: >"cut/F(Alfa)_s1.txt.csv"
head -c -3 "results/F(Alfa)_s2.txt.csv" >"cut/F(Alfa)_s2.txt.csv"
status=0
"$python" "$merge" --list list --out cut --missing cut.list cut.csv \
  2>cut.log || status=$?
[ "$status" -eq 1 ] || fail "merge of cut files: status $status"
[ "$(cat cut.list)" = "$(printf 's1.txt\ns2.txt')" ] || fail "rerun list: $(cat cut.list)"
[ "$(grep -c '^s[12].txt,0,,,,,,,cut,' cut.csv)" -eq 2 ] || fail "no cut rows: $(cat cut.csv)"

# Results of other settings in the folder (null levels of surrogates in
# one file, not in the other) are refused, not mixed into one table.
mkdir mixed
"$batch" --window 256 --shift 64 --surrogates 3 --format csv --threads 1 \
  --quiet --out mixed s1.txt 2>/dev/null || fail "surrogate run: status $?"
cp "single/F(Alfa)_s2.txt.csv" mixed/
printf 's1.txt\ns2.txt\n' >mixed.list
status=0
"$python" "$merge" --list mixed.list --out mixed mixed.csv 2>mixed.log ||
  status=$?
[ "$status" -eq 2 ] || fail "mixed settings: status $status"
grep -q 'F(Alfa)_s2.txt.csv: columns .* differ' mixed.log ||
  fail "mixed settings: $(cat mixed.log)"

# Outside a job array the script refuses to run (the batch tool's usage
# error) rather than take the whole list in every task.
status=0
env $settings OUT=outside bash "$script" 2>outside.log || status=$?
[ "$status" -eq 2 ] || fail "outside an array: status $status"
grep -q 'not inside a Slurm job array' outside.log ||
  fail "outside an array: $(cat outside.log)"
# docs/scaling.md shows the script whole; guards the two drifting apart.
"$python" -c 'import sys; sys.exit(open(sys.argv[2]).read() not in open(sys.argv[1]).read())' \
  "$source_dir/docs/scaling.md" "$script" ||
  fail "docs/scaling.md does not show $script as it is"
echo "slurm array script: every series once, merged tables equal"
