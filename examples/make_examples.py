#!/usr/bin/env python3
"""Writes the example series once, from fixed seeds (kept for the record;
the generated files are committed).

walk.txt        a Gaussian random walk of 5000 steps
cascade.txt     a multiplicative binomial cascade of 4096 samples (p = 0.3),
                with a little multiplicative noise
recordings.csv  20 s of three channels at 250 Hz, with a header row and a
                time column (seconds, from 1/250: sample j, counted from 1,
                lies at j/250): "steady", a Gaussian random walk; "bursty",
                a walk whose steps a binomial cascade modulates; "switch",
                steady for 10 s, then bursty
"""
import random


def write(name, values):
    with open(name, "w", newline="\n") as f:
        for v in values:
            f.write("%.9g\n" % v)


def walk(n, seed):
    rng = random.Random(seed)
    x, out = 0.0, []
    for _ in range(n):
        x += rng.gauss(0.0, 1.0)
        out.append(x)
    return out


def cascade(levels, p, seed):
    rng = random.Random(seed)
    mass = [1.0]
    for _ in range(levels):
        nxt = []
        for m in mass:
            left = p if rng.random() < 0.5 else 1.0 - p
            nxt += [m * left, m * (1.0 - left)]
        mass = nxt
    n = len(mass)
    return [m * n * rng.lognormvariate(0.0, 0.05) for m in mass]


def bursty_steps(n, p, seed):
    """Gaussian steps scaled by the square root of a binomial cascade."""
    rng = random.Random(seed)
    levels = max(1, (n - 1).bit_length())
    weights = cascade(levels, p, seed + 1)[:n]
    return [rng.gauss(0.0, 1.0) * w ** 0.5 for w in weights]


def recordings(path, rate, seconds, seed):
    n = rate * seconds
    rng = random.Random(seed)
    steady = [rng.gauss(0.0, 1.0) for _ in range(n)]
    bursty = bursty_steps(n, 0.25, seed + 10)
    switch = ([rng.gauss(0.0, 1.0) for _ in range(n // 2)] +
              bursty_steps(n - n // 2, 0.2, seed + 20))
    columns = []
    for steps in (steady, bursty, switch):
        x, walk_values = 0.0, []
        for step in steps:
            x += step
            walk_values.append(x)
        columns.append(walk_values)
    with open(path, "w", newline="\n") as f:
        f.write("time,steady,bursty,switch\n")
        for j in range(n):
            f.write("%.3f,%.6f,%.6f,%.6f\n" % ((j + 1) / rate, columns[0][j],
                                              columns[1][j], columns[2][j]))


if __name__ == "__main__":
    write("walk.txt", walk(5000, 20261208))
    write("cascade.txt", cascade(12, 0.3, 7))
    recordings("recordings.csv", 250, 20, 2024)
