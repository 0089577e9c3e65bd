#!/bin/sh
# The installed package as another project uses it:
#   install_test.sh CMAKE BUILD_DIR CONSUMER_DIR WORK
# installs BUILD_DIR into a scratch prefix, builds the consumer project
# against it with find_package(mfwindow), runs it, and checks its rows
# against the installed mfwindow-batch on the same series.
set -eu
cmake=$1 build=$2 consumer=$3 work=$4

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
  fail "cmake --install: $(cat "$work/install.log")"

# Only the public headers go out; the internal ones stay in the tree.
[ -f "$prefix/include/mfwindow/mfwindow.h" ] || fail "public header missing"
[ -f "$prefix/include/mfwindow/settings_table.h" ] || fail "settings table missing"
[ "$(find "$prefix/include" -type f | wc -l)" -eq 2 ] ||
  fail "more than the public headers installed: $(find "$prefix/include" -type f)"

"$cmake" -S "$consumer" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log" 2>&1 ||
  fail "configuring the consumer: $(cat "$work/configure.log")"
"$cmake" --build "$work/build" >"$work/build.log" 2>&1 ||
  fail "building the consumer: $(cat "$work/build.log")"

cd "$work"
./build/consumer >consumer.csv 2>consumer.err ||
  fail "consumer exited with $?: $(cat consumer.err)"
[ ! -s consumer.err ] || fail "consumer wrote: $(cat consumer.err)"
# 5000 samples, windows of 1000 every 250: 17 windows and the header.
[ "$(wc -l <consumer.csv)" -eq 18 ] || fail "expected 17 rows: $(cat consumer.csv)"

"$prefix/bin/mfwindow-batch" --quiet --format csv --shift 250 --tstep 0.5 \
  --out batch walk.txt || fail "installed mfwindow-batch exited with $?"
# The six values; the batch CSV's quality columns follow them.
tr -d '\r' <"batch/F(Alfa)_walk.txt.csv" | cut -d, -f1-6 >batch.csv
cmp consumer.csv batch.csv || fail "the library and mfwindow-batch differ"
echo "ok: $(($(wc -l <consumer.csv) - 1)) windows through the installed package"
