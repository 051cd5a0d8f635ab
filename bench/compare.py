#!/usr/bin/python3
"""Checks that two guardgen builds behave byte for byte alike.

Runs both on the examples, on small descriptions that are mostly refused,
and on generated descriptions of several shapes (rows of a state together
or scattered, rows without an input symbol, states that are only targets,
one-bit and wide signals), and compares standard
output, standard error, exit status and the written checker. For checking a
change made for speed before timing it with run.py.

Usage: bench/compare.py OLD_GUARDGEN NEW_GUARDGEN
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# gen.py arguments of each generated case.
SHAPES = [
    ["--states", "1", "--rows", "1", "--symbols", "1", "--signals", "1"],
    ["--states", "3", "--rows", "2", "--symbols", "2", "--signals", "5"],
    ["--states", "50", "--rows", "4", "--symbols", "20", "--signals", "8"],
    ["--states", "50", "--rows", "4", "--symbols", "20", "--signals", "8", "--scatter"],
    ["--states", "200", "--rows", "6", "--symbols", "30", "--signals", "10",
     "--unlabeled", "0.2"],
    ["--states", "200", "--rows", "6", "--symbols", "30", "--signals", "10",
     "--target-only", "40"],
    ["--states", "300", "--rows", "5", "--symbols", "25", "--signals", "12",
     "--unlabeled", "0.1", "--scatter", "--target-only", "25"],
    ["--states", "2000", "--rows", "10", "--symbols", "100", "--signals", "64", "--scatter"],
    ["--states", "20000", "--rows", "10", "--symbols", "1000", "--signals", "64"],
    ["--states", "20000", "--rows", "3", "--symbols", "500", "--signals", "64",
     "--unlabeled", "0.05", "--scatter", "--target-only", "5000"],
]


# Small descriptions, most of them refused, for the messages and positions.
TEXTS = [
    "@ #",
    "@ # $",
    "@ A = X == 1; # (S1, A) : S2; (S2, A) : S1;",
    "@ A = X == 1; # (S1, A) : S2; (S3) : S1; (S1) : S3; (S2, A) : S4;",
    "@ A = X == 1; # (S1, A) : X;",
    "@ A = X == 1; # (A, A) : S1;",
    "@ A = X == 1; # (S1, A) : A;",
    "@ A = X == 1; # (S1, A) : S2; (S2, A) : CLK;",
    "@ A = X == 1; # (S1, A) : S2; (END, A) : S1;",
    "@ A = X == 1; # (S1, B) : S2;",
    "@ A = X == 1; # (S1, A) : S_;",
    "@ A = X == 1; # (s1, a) : s2; (S2, A) : S1; (s1) : s2;",
    "@ A = X == 1 AND Y == 01 OR Z == 1; B = Y <> 10; # (S1, A) : S2; (S2, B) : S1;",
    "@ A = X == 1; # (S1, A) : S2 (S2, A) : S1;",
]


def run(guardgen, desc):
    """Exit status, stdout, stderr and output file of one run in a fresh copy."""
    out = os.path.splitext(desc)[0] + ".vhd"
    if os.path.exists(out):
        os.unlink(out)
    proc = subprocess.run([guardgen, os.path.basename(desc)], cwd=os.path.dirname(desc),
                          stdin=subprocess.DEVNULL, capture_output=True)
    written = None
    if os.path.exists(out):
        with open(out, "rb") as f:
            written = f.read()
    return proc.returncode, proc.stdout, proc.stderr, written


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    old, new = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix="guardgen-compare-")
    try:
        cases = []
        for path in sorted(glob.glob(os.path.join(ROOT, "examples", "*.txt"))):
            dest = os.path.join(work, "example_" + os.path.basename(path))
            shutil.copy(path, dest)
            cases.append(dest)
        for n, text in enumerate(TEXTS):
            dest = os.path.join(work, "text%02d.txt" % n)
            with open(dest, "w") as f:
                f.write(text + "\n")
            cases.append(dest)
        for n, shape in enumerate(SHAPES):
            for seed in (1, 2):
                dest = os.path.join(work, "gen%02d_%d.txt" % (n, seed))
                subprocess.run([sys.executable, os.path.join(HERE, "gen.py"), "--seed", str(seed)]
                               + shape + [dest], check=True)
                cases.append(dest)
        failed = 0
        for desc in cases:
            a, b = run(old, desc), run(new, desc)
            same = a == b
            failed += not same
            print("%-8s exit %d  %s" % ("same" if same else "DIFFERS", a[0],
                                         os.path.basename(desc)))
        print("%d of %d cases differ" % (failed, len(cases)))
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
