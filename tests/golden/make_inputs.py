#!/usr/bin/env python3
"""Writes the inputs of the golden scenarios (stdin.txt, files/, args.txt).

The expected outputs are recorded with update_expected.sh and reviewed by
hand; this script only fixes what each scenario feeds the program.
"""
import math
import os
import random
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def walk(n, seed):
    rng = random.Random(seed)
    x, out = 0.0, []
    for _ in range(n):
        x += rng.gauss(0.0, 1.0)
        out.append("%.6f" % x)
    return out


def scenario(name, answers, files=None, args=None):
    d = os.path.join(HERE, name)
    for sub in ("files",):
        shutil.rmtree(os.path.join(d, sub), ignore_errors=True)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "stdin.txt"), "w", newline="") as f:
        f.write(answers)
    for path, text in (files or {}).items():
        full = os.path.join(d, "files", path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", newline="", encoding="utf-8") as f:
            f.write(text)
    if args is not None:
        with open(os.path.join(d, "args.txt"), "w", newline="") as f:
            f.write("".join(a + "\n" for a in args))


def lines(values, end="\n"):
    return "".join(v + end for v in values)


ENTER = "\n"
S40 = lines(walk(40, 1))

# The dialogue.
scenario("dialogue_full", ENTER + "0\n1\n32\n3\n8\n0 1\n",
         {"list": "s.txt\n", "s.txt": S40})
scenario("dialogue_repeats",
         ENTER + "2\n-1\nabc\n1\nabc\n0\nxyz\n10\nq\n50\n-3\n"
         "0 0\n1 -1\nabc\n1.5 /\n,0.5\n",
         {"list": "s.txt\n", "s.txt": lines(walk(34, 2))})
scenario("clamp_order_zero_lrec_10", ENTER + "0\n0\n10\n5\n0\n0 1\n",
         {"list": "s.txt\n", "s.txt": lines(walk(34, 3))})
scenario("clamp_lrec_100", ENTER + "0\n-5\n100\n15\n250\n0 0.5\n",
         {"list": "s.txt\n", "s.txt": lines(walk(200, 4))})
scenario("clamp_order_11_lrec_1000", ENTER + "0\n11\n1000\n500\n-3\n0 1\n",
         {"list": "s.txt\n", "s.txt": lines(walk(1003, 5))})
scenario("answers_spread", ENTER + "0 1\n\n\n2\n32\n,\n/\n1.5,\n0.01\n",
         {"list": "s.txt\n", "s.txt": S40})
scenario("empty_list", ENTER + "0\n2\n1000\n20\n100\n0 1\n", {"list": ""})
scenario("list_trailing_empty_line", ENTER + "0\n1\n32\n3\n8\n0 1\ns.txt\n",
         {"list": "s.txt\r\n\n", "s.txt": S40})
scenario("missing_list", ENTER + ENTER, {})
answers = [ENTER, "0\n", "2\n", "1000\n", "20\n", "100\n", "0 1\n"]
for k in range(7):
    scenario("end_of_input_%d" % k, "".join(answers[:k]), {"list": "s.txt\n"})

# Series files and the moving window.
S200 = lines(walk(200, 6))
scenario("lrec100_shift30", ENTER + "0\n2\n100\n10\n30\n0 0.5\n",
         {"list": "s.txt\n", "s.txt": S200})
scenario("window_counts", ENTER + "0\n1\n32\n3\n8\n10 2\n",
         {"list": "n32.txt\n  n39.txt\nn40.txt\n",
          "n32.txt": lines(walk(32, 7)), "n39.txt": lines(walk(39, 8)),
          "n40.txt": lines(walk(40, 9))})
scenario("shift_1", ENTER + "0\n3\n40\n20\n1\n0 1\n",
         {"list": "s.txt\n", "s.txt": lines(walk(45, 10))})
scenario("shift_lrec_increments", ENTER + "1\n2\n50\n5\n50\n100 0.1\n",
         {"list": "s.txt\n", "s.txt": lines(walk(170, 11))})
w = walk(120, 12)
scenario("series_text_rules", ENTER + "0\n2\n32\n3\n16\n0 1\n",
         {"list": "blank.txt\npair.txt\nheader.txt\nnull.txt\n",
          "blank.txt": lines(w[:20]) + "\n   \n" + lines(w[20:60], "\r\n"),
          "pair.txt": "".join(v + " 99 junk\n" for v in w[:64]),
          "header.txt": lines(w[:40]) + "time value\n" + lines(w[40:]),
          "null.txt": lines(w[:50]) + ",5\n" + lines(w[50:])})
scenario("blank_name_from_argument", ENTER + "0\n1\n32\n3\n8\n0 1\n",
         {"list": "\n", "s.txt": S40}, args=["s.txt"])
scenario("blank_name_from_console", ENTER + "0\n1\n32\n3\n8\n0 1\n  s.txt\n",
         {"list": "  \n", "s.txt": S40})
scenario("skipped_series", ENTER + "0\n1\n32\n3\n8\n0 1\n",
         {"list": "a.txt\nmissing.txt\ndata/b.txt\nx/../../c.txt\n",
          "a.txt": S40, "data/b.txt": S40, "c.txt": S40})
scenario("result_file_unwritable", ENTER + "0\n1\n32\n3\n8\n0 1\n",
         {"list": "a.txt\nb.txt\nc.txt\n", "a.txt": S40, "b.txt": S40,
          "c.txt": S40, "F(Alfa)/F(Alfa)_b.txt.dat/keep": ""})
scenario("special_values", ENTER + "0\n2\n32\n3\n4\n0 1\n",
         {"list": "const.txt\nbig.txt\n",
          "const.txt": "1.0\n" * 40,
          "big.txt": lines(["1e300", "-1e300"] * 20)})

# Input that used to give no window, or fewer, without a word: each series
# now draws one line on standard error; the console and the result files
# are as before. "list" starts with a UTF-8 byte-order mark, bom.txt too;
# cr.txt has old-Mac line ends (CR alone); nan.txt ends at a NaN line,
# header.txt at its header, short.txt is shorter than the window.
BOM = "\ufeff"
scenario("input_notes", ENTER + "0\n1\n32\n3\n8\n0 1\n",
         {"list": BOM + "bom.txt\ncr.txt\nnan.txt\nheader.txt\nshort.txt\n",
          "bom.txt": BOM + S40, "cr.txt": lines(walk(40, 1), "\r"),
          "nan.txt": lines(walk(36, 13)) + "NaN\n" + lines(walk(20, 14)),
          "header.txt": "time,value\n" + lines(walk(40, 15)),
          "short.txt": lines(walk(20, 16))})
# Lrec 32 at order 2: every window is degenerate, which reads like a
# white-noise walk; a warning says so.
scenario("degenerate_everywhere", ENTER + "0\n2\n32\n3\n8\n0 1\n",
         {"list": "s.txt\n", "s.txt": S40})
