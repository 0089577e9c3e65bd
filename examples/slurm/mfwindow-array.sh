#!/bin/bash
# One task of a Slurm job array running mfwindow-batch over a share of a
# list of series. Submit from the folder that holds the list (names in it
# are taken from there):
#   sbatch --array=1-100 mfwindow-array.sh
#   LIST=rerun.list sbatch --array=1-4 mfwindow-array.sh   # only some series
# Every task takes series t, t + N, t + 2N, ... of the list (t its place in
# the array, N the number of tasks; --shard auto reads them from Slurm), so
# the tasks share the list without talking to each other and each series
# is analysed exactly once. Results: $OUT/F(Alfa)_<name>.csv, one file per
# series; a series that fails leaves none, is named in the task's log and
# makes the task end with status 1 (sacct shows it). merge_shards.py turns
# the folder into one table and lists the series to rerun.
#
# Settings come from the environment (sbatch passes it on), with these
# defaults:
#   LIST=list  OUT=results  WINDOW=1000  SHIFT=100  ORDER=2  MIN_SCALE=20
#   INCR=0  FORMAT=csv (merge_shards.py reads csv; dat: mfwindow's files)
#   MFWINDOW_BATCH=mfwindow-batch (a path, when it is not on PATH)
#SBATCH --job-name=mfwindow
#SBATCH --array=1-100
#SBATCH --cpus-per-task=1
#SBATCH --mem-per-cpu=1G
#SBATCH --time=04:00:00
#SBATCH --output=mfwindow-%A_%a.log
set -u
: "${LIST:=list}" "${OUT:=results}" "${WINDOW:=1000}" "${SHIFT:=100}"
: "${ORDER:=2}" "${MIN_SCALE:=20}" "${INCR:=0}" "${FORMAT:=csv}"
: "${MFWINDOW_BATCH:=mfwindow-batch}"

# One thread per core Slurm gave the task. A batch of many series gains as
# much from more tasks of one core as from more cores per task.
exec "$MFWINDOW_BATCH" --incr "$INCR" --order "$ORDER" --window "$WINDOW" \
  --shift "$SHIFT" --min-scale "$MIN_SCALE" --format "$FORMAT" \
  --threads "${SLURM_CPUS_PER_TASK:-1}" --list "$LIST" --out "$OUT" --quiet \
  --shard auto
