#!/usr/bin/env python3
"""Merges the CSV result files that mfwindow-batch --format csv wrote for a
list of series (by one process, or by the shards of a job array into one
folder) into one table, in the order of the list:

    merge_shards.py --list list --out results [--column C]
                    [--missing rerun.list] TABLE

TABLE ("-": standard output) gets the header row

    series,window,time,alfa_min,...,min_r2[,null levels],h2_se,width_se,
    crossover_scale,message

then each series' rows as its result file holds them (the values copied as
text, so they stay the exact doubles), with the series' name and the
window's number (from 1) in front. A series without a result file (it
failed or was skipped: the batch tool's log says why) gets one row with
window 0, status "failed" and the reason in message; a series whose file
is empty or cut (its last line without a line end, or fewer windows than
its JSON sidecar says were written: a file cut at a line end) one row with
status "cut"; a series too short for one window one row with status "no window".
The batch tool renames each result into place only once its series is
complete, so a series stopped by a signal or a time limit has no result
file and is "failed". With --column C the results of that column are
merged (F(Alfa)@C_<name>.csv for a column other than 1; F(Alfa)_<name>.csv
when C names the first column, as that result's sidecar says). These are the
columns of mfwindow.distributed.analyse_files(...).to_pandas(), as the result files
spell them ("alfa_min" for the table's "alpha_min"). --missing writes the
names of the failed and cut series, one per line: a list to rerun.

Exit status: 0 every series has its result, 1 some have none or a cut
one (the table is written all the same), 2 bad usage or result files of different columns.
Needs only Python 3's standard library.
"""

import argparse
import csv
import json
import os
import sys

PREFIX = "F(Alfa)_"


def read_list(path):
    """The names of a list file as mfwindow-batch reads them: the first 256
    characters of each line, leading blanks dropped, blank lines
    skipped."""
    names = []
    with open(path, "r", encoding="utf-8-sig", newline="") as f:
        for line in f.read().replace("\r\n", "\n").replace("\r", "\n") \
                .split("\n"):
            name = line[:256].strip(" ")
            if name:
                names.append(name)
    return names


class CutFile(ValueError):
    """A result file that does not end as a complete one does."""


def read_result(path):
    """(header, rows) of one CSV result file. Raises CutFile for an empty
    file, one whose last line has no line end, or one of fewer windows
    than its sidecar ("<file>.json") says were written: the batch tool
    renames a result into place only once it is complete, so such a file
    was cut (by a copy, a full disk or a file-size limit)."""
    with open(path, "rb") as f:
        data = f.read()
    if not data:
        raise CutFile("%s: empty file (0 bytes; not even the header row)"
                      % path)
    if not data.endswith(b"\n"):
        raise CutFile("%s: cut file (its last line has no line end)" % path)
    rows = list(csv.reader(data.decode("ascii").splitlines()))
    windows = len([row for row in rows[1:] if row])
    sidecar = path + ".json"
    if os.path.isfile(sidecar):
        with open(sidecar, "r", encoding="utf-8", errors="replace") as f:
            written = json.load(f).get("windows")
        if isinstance(written, int) and windows < written:
            raise CutFile("%s: cut file (%d windows; its sidecar says %d "
                          "were written)" % (path, windows, written))
    return rows[0], rows[1:]


def column_prefix(column):
    """The start of the result names of a --column value, as the batch
    tool names them: PREFIX for none or column 1, otherwise
    "F(Alfa)@<column>_" with a name's bytes other than letters, digits,
    '.' and '-' written as %XX."""
    if column in (None, "", "1"):
        return PREFIX
    keep = (b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
            b"0123456789.-")
    text = "".join(chr(b) if b in keep else "%%%02X" % b
                   for b in column.encode("utf-8"))
    return "F(Alfa)@" + text + "_"


def first_column_result(out_dir, name, fmt, column):
    """The result of `name` under PREFIX when its sidecar says it is of
    the column chosen by the name `column` (the first column, which keeps
    PREFIX however it is chosen), else None."""
    path = os.path.join(out_dir, PREFIX + name + "." + fmt)
    try:
        with open(path + ".json", "r", encoding="utf-8") as f:
            chosen = json.load(f)["series"].get("column") or {}
    except (OSError, ValueError, KeyError, AttributeError):
        return None
    return path if chosen.get("name") == column else None


def merge(names, out_dir, fmt="csv", prefix=PREFIX, column=None):
    """(header, rows, failed names) of the table of `names`; `column`:
    the --column given, whose first column's results are under PREFIX."""
    header = None
    found = []
    failed = []
    for name in names:
        path = os.path.join(out_dir, prefix + name + "." + fmt)
        if not os.path.isfile(path) and column is not None:
            path = first_column_result(out_dir, name, fmt, column) or path
        if not os.path.isfile(path):
            found.append((name, None))
            failed.append(name)
            continue
        try:
            columns, rows = read_result(path)
        except CutFile as e:
            found.append((name, e))
            failed.append(name)
            continue
        if header is None:
            header = columns
        elif columns != header:
            raise ValueError("%s: columns %s differ from %s (results of "
                             "other settings?)" % (path, ",".join(columns),
                                                   ",".join(header)))
        found.append((name, rows))
    if header is None:
        # No result at all: the columns the batch tool writes without
        # surrogates.
        header = ["time", "alfa_min", "alfa_max", "alfa_width", "alfa_sz",
                  "f_alfa_sz", "status", "zero_share", "floor_share",
                  "min_r2", "h2_se", "width_se", "crossover_scale"]
    status = header.index("status")
    table = []
    for name, rows in found:
        if isinstance(rows, list) and rows:
            table.extend([name, str(i)] + row + [""]
                         for i, row in enumerate(rows, 1))
            continue
        row = [""] * len(header)
        path = os.path.join(out_dir, prefix + name + "." + fmt)
        if isinstance(rows, CutFile):
            row[status] = "cut"
            message = str(rows)
        elif rows is None:
            row[status] = "failed"
            message = ("no result file %s (the series failed or was skipped "
                       "or stopped: see the batch tool's messages)" % path)
            if os.path.exists(path + ".part"):
                message += "; %s.part is a run's unfinished file" % path
        else:
            row[status] = "no window"
            message = "the series is shorter than one window"
        table.append([name, "0"] + row + [message])
    return ["series", "window"] + header + ["message"], table, failed


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="One table from mfwindow-batch's CSV result files.")
    parser.add_argument("--list", required=True,
                        help="the list file the batch tool was given")
    parser.add_argument("--out", required=True,
                        help="the folder of the result files (--out)")
    parser.add_argument("--column",
                        help="the --column the batch tool was given (one)")
    parser.add_argument("--missing",
                        help="write the names of the failed series here")
    parser.add_argument("table", help="the merged CSV ('-': standard output)")
    args = parser.parse_args(argv)
    try:
        header, table, failed = merge(read_list(args.list), args.out,
                                      prefix=column_prefix(args.column),
                                      column=args.column)
    except (OSError, ValueError) as e:
        print("merge_shards.py: %s" % e, file=sys.stderr)
        return 2
    if args.table == "-":
        csv.writer(sys.stdout).writerows([header] + table)
    else:
        with open(args.table, "w", encoding="ascii", newline="") as f:
            csv.writer(f).writerows([header] + table)
    if args.missing:
        with open(args.missing, "w", encoding="utf-8") as f:
            f.writelines(name + "\n" for name in failed)
    for row in table:
        if row[1] == "0" and row[0] in failed:
            print("merge_shards.py: %s: %s" % (row[0], row[-1]),
                  file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
