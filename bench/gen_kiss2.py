#!/usr/bin/python3
"""Writes a seeded KISS2 machine of a chosen size, for `guardgen --kiss2`.

STATES states named st0, st1, ...; the rows of each state come together,
ROWS of them, each with a cube from a pool of CUBES distinct cubes over
INPUTS input bits (a third of the bits fixed) and a random next state, and
two output bits. Every bit is fixed in some cube, so each becomes a port.

The same arguments always give the same bytes (only random.random() is used).

Usage: gen_kiss2.py [--states N] [--rows N] [--cubes N] [--inputs N] [--seed N] OUTPUT
"""

import argparse
import random


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--states", type=int, default=100000)
    ap.add_argument("--rows", type=int, default=10)
    ap.add_argument("--cubes", type=int, default=1000)
    ap.add_argument("--inputs", type=int, default=16)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("output")
    a = ap.parse_args()
    rng = random.Random(a.seed)

    cubes = set()
    for k in range(a.inputs):  # every bit fixed somewhere
        cubes.add("-" * k + "1" + "-" * (a.inputs - k - 1))
    while len(cubes) < a.cubes:
        cubes.add("".join("01"[int(rng.random() * 2)] if rng.random() < 1 / 3 else "-"
                          for _ in range(a.inputs)))
    cubes = sorted(cubes)

    with open(a.output, "w") as f:
        f.write(".i %d\n.o 2\n.p %d\n.s %d\n.r st0\n" % (a.inputs, a.states * a.rows, a.states))
        lines = []
        for s in range(a.states):
            for _ in range(a.rows):
                cube = cubes[int(rng.random() * len(cubes))]
                nxt = int(rng.random() * a.states)
                lines.append("%s st%d st%d %d%d\n" % (cube, s, nxt, int(rng.random() * 2),
                                                      int(rng.random() * 2)))
            if len(lines) >= 100000:
                f.write("".join(lines))
                lines = []
        f.write("".join(lines))
        f.write(".e\n")


if __name__ == "__main__":
    main()
