#!/usr/bin/env python3
"""Damaged KISS2 files through `guardgen --kiss2`: seeded mutations of the
suite's files (bytes cut, inserted and replaced, lines doubled, odd headers,
very long lines, NUL and high bytes). Every run must end with status 0 and
a checker, or status 1, one located error line and no checker; the
sanitizer build of the suite runs the same cases.

Usage: hostile.py --guardgen PATH [--cases N] [--seed N]
"""

import argparse
import glob
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ALPHABET = b"01-* \t\n\r#.ierpsoblnd_kxyzAZ\x00\xff"
INSERTS = [b"\n.r zz\n", b"\n.i 0\n", b"\n.ilb a b c\n", b"\n* * * *\n", b"\n- - -\n",
           b"\n.e\n", b"\n.o 0\n", b"\n.i 99999999999\n", b"\n" + b"-" * 70000 + b" a b\n",
           b"\n" + b"s" * 200000 + b"\n"]
ERROR_LINE = re.compile(rb"^(Lex|Synt)Error\[line=\d+, column=\d+\]: [^\n]*\n$")


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(5)
        pos = rng.randrange(len(data) + 1)
        if op == 0:
            del data[pos:pos + rng.randint(1, 20)]
        elif op == 1:
            data[pos:pos] = bytes(rng.choice(ALPHABET) for _ in range(rng.randint(1, 10)))
        elif op == 2:
            lines = data.split(b"\n")
            lines.insert(rng.randrange(len(lines) + 1), rng.choice(lines))
            data = bytearray(b"\n".join(lines))
        elif op == 3:
            data[pos:pos] = rng.choice(INSERTS)
        elif data:
            data[rng.randrange(len(data))] = rng.choice(ALPHABET)
    return bytes(data)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--cases", type=int, default=150)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    originals = [open(f, "rb").read() for f in sorted(glob.glob(os.path.join(HERE, "*.kiss2")))]
    work = tempfile.mkdtemp(prefix="guardgen_kiss2_hostile_")
    accepted = refused = 0
    try:
        for case in range(a.cases):
            data = mutate(rng, rng.choice(originals))
            path = os.path.join(work, "m.kiss2")
            out = os.path.join(work, "m.vhd")
            with open(path, "wb") as f:
                f.write(data)
            if os.path.exists(out):
                os.unlink(out)
            options = ["--lint", "--dot", "--verilog"] if case % 2 else []
            p = subprocess.run([a.guardgen, "--kiss2"] + options + [path], capture_output=True,
                               timeout=60)
            ok = (p.returncode in (0, 2) and os.path.exists(out)) if p.returncode != 1 else (
                ERROR_LINE.match(p.stderr) is not None and not os.path.exists(out))
            if not ok:
                keep = os.path.join(tempfile.gettempdir(), "kiss2_hostile_case_%d.kiss2" % case)
                shutil.copy(path, keep)
                sys.exit("FAIL case %d (kept in %s): status %d, stderr %r" % (
                    case, keep, p.returncode, p.stderr[-500:]))
            if p.returncode == 1:
                refused += 1
            else:
                accepted += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS: %d damaged files, %d accepted, %d refused with one located error" % (
        a.cases, accepted, refused))
    return 0


if __name__ == "__main__":
    sys.exit(main())
