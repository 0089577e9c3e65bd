#!/usr/bin/env python3
"""Writes the example series once, from fixed seeds (kept for the record;
the generated files are committed).

walk.txt     a Gaussian random walk of 5000 steps
cascade.txt  a multiplicative binomial cascade of 4096 samples (p = 0.3),
             with a little multiplicative noise
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


if __name__ == "__main__":
    write("walk.txt", walk(5000, 20261208))
    write("cascade.txt", cascade(12, 0.3, 7))
