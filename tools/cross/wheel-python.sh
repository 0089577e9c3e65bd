#!/bin/sh
# Prints the CPython the wheels are built for and tested with: WHEEL_PYTHON,
# else the first python3 on PATH whose prefix is not /usr (Debian's lacks
# scikit-build-core and sees Debian's site packages).
if [ -n "${WHEEL_PYTHON:-}" ]; then
  echo "$WHEEL_PYTHON"
  exit 0
fi
for candidate in $(which -a python3 python3.13 python3.12 python3.11 \
                     python3.10 python3.9 2>/dev/null); do
  real=$("$candidate" -c 'import sys; print(sys.executable)' 2>/dev/null) \
    || continue
  case $real in /usr/bin/*|/bin/*) continue ;; esac
  echo "$real"
  exit 0
done
echo "no CPython other than Debian's found; set WHEEL_PYTHON" >&2
exit 1
