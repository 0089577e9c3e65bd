#!/bin/sh
# mfwindow-batch as a user runs it, one case per call:
#   cli_test.sh CASE MFWINDOW BATCH SOURCE_DIR WORK
# Each case works in a fresh WORK directory and fails with a message naming
# what went wrong.
set -eu
case_name=$1 mfwindow=$2 batch=$3 source_dir=$4 work=$5
examples=$source_dir/examples
readme=$source_dir/docs/guide/batch.md

fail() { echo "FAIL: $*" >&2; exit 1; }

# Set for the Windows programs under wine, which have neither advisory
# locks nor file-size limits.
windows=${MFWINDOW_TEST_WINDOWS:-}

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# The guide's commands run with the program on PATH, as after an install.
mkdir bin
ln -s "$batch" bin/mfwindow-batch
PATH=$work/bin:$PATH
export PATH

# Copies the example series and list into directory $1.
examples_into() {
  mkdir -p "$1"
  cp "$examples/walk.txt" "$examples/cascade.txt" "$examples/list" "$1"
}

# Runs mfwindow in $1 on the answers $2 and mfwindow-batch in $3 with the
# remaining arguments, then compares every result file byte for byte.
compare_with_mfwindow() {
  mf_dir=$1 answers=$2 batch_dir=$3
  shift 3
  examples_into "$mf_dir"
  examples_into "$batch_dir"
  (cd "$mf_dir" && printf '%b' "$answers" | "$mfwindow" >console.txt) ||
    fail "mfwindow exited with $?"
  (cd "$batch_dir" && "$batch" "$@" --list list 2>stderr.txt) ||
    fail "mfwindow-batch exited with $?: $(cat "$batch_dir/stderr.txt")"
  for name in walk.txt cascade.txt; do
    file="F(Alfa)/F(Alfa)_$name.dat"
    [ -s "$mf_dir/$file" ] || fail "mfwindow wrote no $file"
    cmp "$mf_dir/$file" "$batch_dir/$file" ||
      fail "$file differs from mfwindow's"
  done
}

# Runs the shard command $1 (a line of the guide, with ${...} expanded by eval)
# for shards 1..$2 of a 7-series list and checks that every series was
# done by exactly one shard.
check_shards() {
  command=$1 count=$2
  : >list
  for i in 1 2 3 4 5 6 7; do
    head -n 1500 "$examples/cascade.txt" >"s$i.txt"
    echo "s$i.txt" >>list
  done
  : >done.txt
  i=1
  while [ "$i" -le "$count" ]; do
    # --quiet in the guide; the per-series lines are asked for here.
    eval "$(echo "$command" | sed 's/ --quiet//')" 2>>done.txt ||
      fail "shard $i/$count exited with $?"
    i=$((i + 1))
  done
  sed -n 's/^mfwindow-batch: \(s[0-9]*\.txt\): .*/\1/p' done.txt | sort >seen.txt
  sort list >want.txt
  cmp want.txt seen.txt || fail "shards did not take each series once: $(cat seen.txt)"
  for name in $(cat list); do
    [ -s "results/F(Alfa)_$name.dat" ] || fail "no result for $name"
  done
}

case $case_name in
dat_matches_mfwindow)
  # The bundled answers, spelt out as flags.
  compare_with_mfwindow mf '\n0\n2\n1000\n20\n100\n0 1\n' batch \
    --incr 0 --order 2 --window 1000 --min-scale 20 --shift 100 \
    --tini 0 --tstep 1 --threads 2
  if grep -q warning batch/stderr.txt; then
    fail "warnings for settings in range: $(cat batch/stderr.txt)"
  fi
  ;;
clamped_dat_matches_mfwindow)
  # Answers out of range: the dialogue clamps them silently, the batch
  # program the same way with a warning per flag.
  compare_with_mfwindow mf '\n1\n11\n100\n50\n250\n-3.5 0.25\n' batch \
    --incr 1 --order 11 --window 100 --min-scale 50 --shift 250 \
    --tini -3.5 --tstep 0.25 --threads 1
  for line in "--order 11 is out of range; using 10" \
              "--min-scale 50 is out of range; using 10" \
              "--shift 250 is out of range; using 100"; do
    grep -q -F -- "mfwindow-batch: warning: $line" batch/stderr.txt ||
      fail "no warning \"$line\": $(cat batch/stderr.txt)"
  done
  # The three clamps; the window of 100 samples, short for the method;
  # order 10 in it, degenerate in every window of both series; and their
  # increments (--incr 1), noises to the described method.
  for line in "Lrec 100 is below 256" \
              "walk.txt: looks like a noise, not a walk (lag-1 correlation -0.02" \
              "cascade.txt: looks like a noise" \
              "walk.txt: all 50 windows are degenerate (0.5, 0.5, 0, 0.5, 1" \
              "cascade.txt: all 40 windows are degenerate (0.5, 0.5, 0, 0.5, 1"; do
    grep -q -F -- "mfwindow-batch: warning: $line" batch/stderr.txt ||
      fail "no warning \"$line\": $(cat batch/stderr.txt)"
  done
  [ "$(grep -c warning batch/stderr.txt)" -eq 8 ] ||
    fail "wrong number of warnings: $(cat batch/stderr.txt)"
  ;;
slurm_shards_cover_list)
  # The guide's job script, under a faked Slurm environment: arrays
  # numbered from 1 (COUNT set), from 0, in steps, and with MIN/MAX only.
  slurm='mfwindow-batch --order 2 --window 1000 --shift 100 --list list --out results --quiet --shard auto'
  grep -q -F -- "$slurm" "$readme" || fail "docs/guide/batch.md lacks: $slurm"
  export SLURM_ARRAY_TASK_ID SLURM_ARRAY_TASK_COUNT SLURM_ARRAY_TASK_MIN SLURM_ARRAY_TASK_MAX SLURM_ARRAY_TASK_STEP
  SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=3
  check_shards 'SLURM_ARRAY_TASK_ID=$i; '"$slurm" 3
  rm -rf results
  SLURM_ARRAY_TASK_COUNT=4 SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=3
  check_shards 'SLURM_ARRAY_TASK_ID=$((i - 1)); '"$slurm" 4
  rm -rf results
  SLURM_ARRAY_TASK_COUNT=2 SLURM_ARRAY_TASK_MIN=10 SLURM_ARRAY_TASK_MAX=20 SLURM_ARRAY_TASK_STEP=10
  check_shards 'SLURM_ARRAY_TASK_ID=$((i * 10)); '"$slurm" 2
  rm -rf results
  unset SLURM_ARRAY_TASK_COUNT SLURM_ARRAY_TASK_STEP
  SLURM_ARRAY_TASK_MIN=5 SLURM_ARRAY_TASK_MAX=9
  check_shards 'SLURM_ARRAY_TASK_ID=$((i + 4)); '"$slurm" 5
  # Outside a job array: a usage error that says so, and nothing done.
  unset SLURM_ARRAY_TASK_ID SLURM_ARRAY_TASK_MIN SLURM_ARRAY_TASK_MAX
  rm -rf results
  status=0
  mfwindow-batch --list list --out results --shard auto 2>err.txt || status=$?
  [ "$status" -eq 2 ] || fail "outside an array: status $status, not 2"
  grep -q -F -- '--shard auto: not inside a Slurm job array (SLURM_ARRAY_TASK_ID is not set); give --shard I/N' err.txt ||
    fail "outside an array: $(cat err.txt)"
  [ ! -e results ] || fail "outside an array: results written"
  ;;
stdin_and_stdout)
  # Guards two traps: "-" as a series was refused as a missing file, and
  # --out - made a folder named "-".
  examples_into run
  cd run
  mfwindow-batch --quiet --format csv --out csv walk.txt || fail "csv run: $?"
  cat walk.txt | mfwindow-batch --quiet --out - - >stdout.csv 2>err.txt ||
    fail "stdin to stdout: status $?: $(cat err.txt)"
  cmp stdout.csv "csv/F(Alfa)_walk.txt.csv" || fail "stdout differs from the CSV file"
  [ ! -e - ] || fail "a file or folder named - was made"
  [ ! -s err.txt ] || fail "--quiet wrote: $(cat err.txt)"
  mfwindow-batch --quiet --out - --format dat walk.txt >stdout.dat ||
    fail "dat to stdout: $?"
  mfwindow-batch --quiet walk.txt || fail "dat run: $?"
  cmp stdout.dat "F(Alfa)/F(Alfa)_walk.txt.dat" || fail "stdout differs from the dat file"
  # From standard input to files: named "stdin".
  mfwindow-batch --quiet --out fromstdin - <walk.txt || fail "stdin run: $?"
  cmp "fromstdin/F(Alfa)_stdin.dat" "F(Alfa)/F(Alfa)_walk.txt.dat" || fail "stdin result differs"
  # One result to standard output, so one series.
  status=0
  mfwindow-batch --out - walk.txt cascade.txt >out.txt 2>err.txt || status=$?
  [ "$status" -eq 2 ] || fail "two series to stdout: status $status, not 2"
  grep -q -F -- "--out - writes one series to standard output; 2 series given" err.txt ||
    fail "two series to stdout: $(cat err.txt)"
  [ ! -s out.txt ] || fail "two series to stdout: something was written"
  ;;
plot_refuses_empty_result)
  # Guards the trap of an empty figure drawn, with exit 0, for a result
  # without a window.
  /usr/bin/python3 -c 'import numpy, matplotlib' 2>/dev/null || {
    echo "skipped: no numpy or matplotlib"; exit 0; }
  head -n 100 "$examples/walk.txt" >short.txt
  mfwindow-batch --quiet short.txt 2>/dev/null || fail "dat run: $?"
  mfwindow-batch --quiet --format csv short.txt 2>/dev/null || fail "csv run: $?"
  for file in "F(Alfa)/F(Alfa)_short.txt.dat" "F(Alfa)/F(Alfa)_short.txt.csv"; do
    status=0
    "$source_dir/tools/mfwindow-plot" --out plots "$file" >out.txt 2>err.txt || status=$?
    [ "$status" -eq 1 ] || fail "$file: status $status, not 1"
    grep -q -F "mfwindow-plot: $file: no windows in this file" err.txt ||
      fail "$file: $(cat err.txt)"
    [ ! -s out.txt ] || fail "$file: $(cat out.txt)"
    [ -z "$(ls plots 2>/dev/null)" ] || fail "$file: a picture was drawn"
  done
  ;;
parallel_shards_cover_list)
  parallel='parallel mfwindow-batch --order 2 --window 1000 --shift 100 --threads 1 --list list --out results --quiet --shard {}/4 ::: 1 2 3 4'
  grep -q -F -- "$parallel" "$readme" || fail "docs/guide/batch.md lacks: $parallel"
  # GNU parallel runs the command once per argument after :::, with the
  # argument in place of {}; done here one after the other.
  check_shards "$(echo "$parallel" | sed 's/^parallel //; s/ :::.*//; s/{}/$i/')" 4
  ;;
exit_statuses)
  examples_into run
  cd run
  status=0
  mfwindow-batch --quiet walk.txt missing.txt 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "missing series: status $status, not 1"
  grep -q 'missing.txt.*series skipped' err.txt || fail "not named: $(cat err.txt)"
  [ -s "F(Alfa)/F(Alfa)_walk.txt.dat" ] || fail "walk.txt not done"

  status=0
  mfwindow-batch --incr 2 walk.txt 2>err.txt || status=$?
  [ "$status" -eq 2 ] || fail "bad flag: status $status, not 2"
  grep -q '^Usage: mfwindow-batch' err.txt || fail "no usage line: $(cat err.txt)"

  echo "not a folder" >blocker
  status=0
  mfwindow-batch --quiet --out blocker walk.txt 2>err.txt || status=$?
  [ "$status" -eq 3 ] || fail "unwritable result: status $status, not 3"
  grep -q 'severe (3): cannot open file' err.txt || fail "no report: $(cat err.txt)"

  mfwindow-batch --quiet walk.txt 2>err.txt || fail "status $? for a good run"
  [ ! -s err.txt ] || fail "--quiet wrote: $(cat err.txt)"

  # SIGXFSZ at its default killed the run mid-line; now the write fails
  # (status 3), and the earlier whole result stays.
  if [ -z "$windows" ]; then
  cp "F(Alfa)/F(Alfa)_walk.txt.dat" whole.dat
  status=0
  (ulimit -f 2 && exec mfwindow-batch --quiet walk.txt 2>err.txt) || status=$?
  [ "$status" -eq 3 ] || fail "file-size limit: status $status, not 3"
  grep -q 'error during write (File too large)' err.txt || fail "$(cat err.txt)"
  cmp -s whole.dat "F(Alfa)/F(Alfa)_walk.txt.dat" || fail "earlier result changed"
  [ ! -e "F(Alfa)/F(Alfa)_walk.txt.dat.part" ] || fail "a .part file was left"
  fi

  # A series stopped by SIGTERM left a shorter, well-formed result (Windows
  # has no SIGTERM: a process killed there leaves its .part file, never a
  # result).
  if [ -z "$windows" ]; then
  awk 'BEGIN { for (i = 0; i < 400000; i++) print (i * 7919) % 1000 }' >long.txt
  mfwindow-batch --quiet --threads 1 --shift 5 long.txt 2>err.txt &
  pid=$!
  for _ in $(seq 1 200); do
    [ -s "F(Alfa)/F(Alfa)_long.txt.dat.part" ] && break
    sleep 0.05
  done
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 143 ] || fail "SIGTERM: status $status, not 143"
  [ ! -e "F(Alfa)/F(Alfa)_long.txt.dat" ] || fail "a stopped series left a result"
  [ ! -e "F(Alfa)/F(Alfa)_long.txt.dat.part" ] || fail "a .part file was left"
  fi
  ;;
refusals)
  # Each guards a fault the batch tool had: a folder as a series gave an
  # empty result file and exit 0; an infinite step or a NaN start gave
  # Infinity/NaN time marks; --threads -1 printed a 309-digit number; a
  # second run interleaved its lines with a running one; reports began with
  # "mfwindow:"; defaults the user never set drew warnings.
  examples_into run
  cd run
  mkdir adir
  status=0
  mfwindow-batch --quiet adir walk.txt 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "folder: status $status, not 1"
  grep -q '^mfwindow-batch: cannot open series file "adir" (Is a directory); series skipped$' err.txt ||
    fail "folder not named: $(cat err.txt)"
  [ ! -e "F(Alfa)/F(Alfa)_adir.dat" ] || fail "a result file for the folder"
  [ -s "F(Alfa)/F(Alfa)_walk.txt.dat" ] || fail "walk.txt not done"

  for flags in "--tstep inf" "--tini nan" "--tstep nan" "--tini -inf"; do
    status=0
    # shellcheck disable=SC2086
    mfwindow-batch --quiet $flags walk.txt 2>err.txt || status=$?
    [ "$status" -eq 2 ] || fail "$flags: status $status, not 2"
    grep -q 'must be' err.txt || fail "$flags: $(cat err.txt)"
  done

  status=0
  mfwindow-batch --quiet --threads -1 walk.txt 2>err.txt || status=$?
  [ "$status" -eq 2 ] || fail "--threads -1: status $status, not 2"
  grep -q -- '--threads must be at least 0' err.txt || fail "--threads -1: $(cat err.txt)"
  [ "$(head -n 1 err.txt | wc -c)" -lt 100 ] || fail "--threads -1: $(head -n 1 err.txt)"

  if [ -z "$windows" ]; then
  echo "the other run's line" >"F(Alfa)/F(Alfa)_cascade.txt.dat"
  status=0
  flock "F(Alfa)/F(Alfa)_cascade.txt.dat" mfwindow-batch --quiet cascade.txt 2>err.txt || status=$?
  [ "$status" -eq 3 ] || fail "locked result: status $status, not 3"
  grep -q '^mfwindow-batch: severe (3): cannot open file (another run is writing it), unit 2, file ' err.txt ||
    fail "locked result: $(cat err.txt)"
  [ "$(cat "F(Alfa)/F(Alfa)_cascade.txt.dat")" = "the other run's line" ] || fail "the other run's file was touched"
  fi

  mfwindow-batch --window 100 walk.txt 2>err.txt >/dev/null || fail "status $? for --window 100"
  # The short window itself is worth a warning; the default minimum scale
  # it lowers is not.
  [ "$(grep -c 'warning' err.txt)" -eq 1 ] && grep -q 'warning: Lrec 100 is below 256' err.txt ||
    fail "warned about a default: $(cat err.txt)"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "ok: $case_name"
