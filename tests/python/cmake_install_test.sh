#!/bin/sh
# `cmake --install` of the Python package and the plot command, as a user
# runs it:
#   cmake_install_test.sh CMAKE BUILD_DIR PYTHONDIR PYTHON WORK
# installs BUILD_DIR into a scratch prefix; checks that the package lies in
# PREFIX/PYTHONDIR with its compiled core, that PYTHON imports it from there,
# and that PREFIX/bin/mfwindow-plot finds it without help (no PYTHONPATH,
# from another folder) and draws a result file.
set -eu
cmake=$1 build=$2 pythondir=$3 python=$4 work=$5

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/elsewhere"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
  fail "cmake --install: $(cat "$work/install.log")"

package=$prefix/$pythondir/mfwindow
for name in __init__.py plot.py py.typed _core.pyi; do
  [ -f "$package/$name" ] || fail "$name not installed in $package"
done
ls "$package"/_core.*.so >/dev/null 2>&1 || fail "no compiled core in $package"
[ -x "$prefix/bin/mfwindow-plot" ] || fail "mfwindow-plot not installed"

where=$(cd "$work/elsewhere" && env -u PYTHONPATH PYTHONPATH="$prefix/$pythondir" \
  "$python" -c 'import mfwindow; print(mfwindow.__file__)') ||
  fail "the installed package does not import"
[ "$where" = "$package/__init__.py" ] || fail "imported $where"

# A result file of two windows, as mfwindow-batch writes its CSV.
cat >"$work/elsewhere/F(Alfa)_s.csv" <<'CSV'
time,alfa_min,alfa_max,alfa_width,alfa_sz,f_alfa_sz
1000,0.33357337574520596,0.70738412348685298,0.37381074774164702,0.53747014724064979,1.0000272325772577
1100,0.32148700000000001,0.73378500000000002,0.41229800000000001,0.55054199999999998,1.00001
CSV
cd "$work/elsewhere"
out=$(env -u PYTHONPATH "$prefix/bin/mfwindow-plot" --format svg "F(Alfa)_s.csv") ||
  fail "the installed mfwindow-plot failed"
[ "$out" = "F(Alfa)_s.svg" ] || fail "mfwindow-plot printed: $out"
head -c 5 "F(Alfa)_s.svg" | grep -q '<?xml' || fail "not an SVG"
echo "ok: package in $pythondir, mfwindow-plot in bin"
