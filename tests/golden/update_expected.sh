#!/usr/bin/env bash
# Records the expected outputs of golden scenarios by running the program
# with the straightforward kernel, which defines the output (the tests then
# hold every engine and thread count to it):
#   tests/golden/update_expected.sh BUILD_DIR [scenario ...]
# Review every changed file before committing it: a golden file is the
# program's contract, and the commit message says why it changed.
set -euo pipefail
engine=$(realpath "$1/tests/mfwindow_engine"); shift
[ -x "$engine" ] || { echo "no $engine: build first" >&2; exit 2; }
program=("$engine" reference 1)
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 0 ]; then
  set -- $(cd "$here" && ls -d */ | tr -d /)
fi
for name in "$@"; do
  dir="$here/$name"
  work=$(mktemp -d)
  [ -d "$dir/files" ] && cp -a "$dir/files/." "$work/"
  args=()
  [ -f "$dir/args.txt" ] && mapfile -t args < "$dir/args.txt"
  status=0
  (cd "$work" && "${program[@]}" "${args[@]}" < "$dir/stdin.txt" \
     > "$work.stdout" 2> "$work.stderr") || status=$?
  rm -rf "$dir/expected"
  mkdir -p "$dir/expected"
  cp "$work.stdout" "$dir/expected/stdout.txt"
  if [ -s "$work.stderr" ]; then
    sed "s|$work|@WORK@|g" "$work.stderr" > "$dir/expected/stderr.txt"
  fi
  [ "$status" -ne 0 ] && echo "$status" > "$dir/expected/exit_status.txt"
  if [ -d "$work/F(Alfa)" ]; then
    cp -a "$work/F(Alfa)" "$dir/expected/"
  else
    touch "$dir/expected/no_result_dir"
  fi
  rm -rf "$work" "$work.stdout" "$work.stderr"
  echo "$name: exit $status"
done
