#!/usr/bin/env python3
"""Test of guardgen --testbench.

For the examples and for random descriptions (simtest's generator, plus
tricky names, wide vectors, unreachable states and dead rows): write the
checker and its testbench, run the testbench in GHDL in both modes and
require that it passes. With TRACE on, the testbench prints every cycle's
inputs and ERROR; simtest's independent Model replays that stimulus, so

- ERROR in every cycle must be what the description means,
- the rows the stimulus takes (distinct) must be exactly the rows that can
  fire from a reachable state, counted here by enumerating one value of
  every interval the constants cut a signal into (no code shared with
  guardgen), and the error checks every reachable state where some input
  fits no row.

With --mutate, the written checker is changed (two rows' targets swapped,
two overlapping rows of a state swapped, a row dropped); where the Model
says the change alters ERROR on the testbench's own stimulus, the
testbench must fail. The kill rate is printed.

Usage: tbtest.py --guardgen PATH [--seeds A:B] [--jobs J] [--examples DIR]
                 [--mutate] [--modes 1|2] [--keep DIR]
"""

import argparse
import itertools
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "sim"))
import simtest  # noqa: E402

# Past this many input classes in one state the count of rows that can fire
# is not enumerated here; the seed is then checked against the testbench's
# own header instead (and counted as such).
CLASS_LIMIT = 20000

# Names that a testbench could trip over: words of its own, of textio and
# of the IEEE packages, and the longest name guardgen takes.
TRICKY = ["INPUTS", "ZERO", "CYCLE", "TRACE", "LINE", "OUTPUT", "REACH_1", "VALUE_0", "NS",
          "RISING_EDGE", "FAILURE", "NOTE", "BENCH", "GUARD_TB", "DUT", "STIMULUS", "PASS",
          "TAKE", "RESTART", "DONE", "PERIOD", "SETTLE", "BITS", "PRINT", "TIME", "WRITE",
          "INTEGER", "STRING", "NATURAL", "ERROR_CHECK", "ROWS_PLANNED", "FAILURES"]


def run(cmd, cwd):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True, errors="replace", timeout=600)


# ---------------------------------------------------------------------------
# Variants of simtest's random descriptions
# ---------------------------------------------------------------------------

def rename(desc, mapping):
    m = lambda n: mapping.get(n, n)
    return {
        "signals": {m(s): w for s, w in desc["signals"].items()},
        "symbols": [(m(n), [(c, m(s), op, v) for c, s, op, v in comps]) for n, comps in desc["symbols"]],
        "rows": [(m(a), None if b is None else m(b), m(c)) for a, b, c in desc["rows"]],
    }


def variant(desc, rng, seed):
    """Seed by seed, one more kind of trouble on top of simtest's own."""
    kind = seed % 5
    if kind == 1:  # names the testbench might declare or use itself
        sigs = list(desc["signals"])
        names = rng.sample(TRICKY, len(sigs))
        states = sorted({r[0] for r in desc["rows"]} | {r[2] for r in desc["rows"]})
        mapping = dict(zip(sigs, names))
        long_state = "L" + "X" * 1020 + "9"
        mapping[rng.choice(states)] = long_state
        mapping[desc["symbols"][0][0]] = "S" + "Y" * 1021 + "8"
        desc = rename(desc, mapping)
    elif kind == 2:  # a wide vector: past 64 bits values become constants
        sig = rng.choice(sorted(desc["signals"]))
        width = rng.choice([65, 130, 300])
        desc["signals"][sig] = width
        symbols = []
        for name, comps in desc["symbols"]:
            new = []
            for c, s, op, v in comps:
                if s == sig:
                    v = rng.choice([0, (1 << width) - 1, rng.getrandbits(width), 1 << (width - 1)])
                new.append((c, s, op, v))
            symbols.append((name, new))
        desc["symbols"] = symbols
    elif kind == 3:  # an unreachable state and a dead row after an unlabeled one
        rows = list(desc["rows"])
        src = rows[0][0]
        sym = desc["symbols"][0][0]
        rows.append(("UNREACHED7", sym, src))
        rows.append(("UNREACHED7", None, "UNREACHED7"))
        victim = rng.choice(rows[1:])[0]
        rows.append((victim, None, src))
        rows.append((victim, sym, victim))  # dead: after an unlabeled row
        desc = dict(desc, rows=rows)
    return desc


# ---------------------------------------------------------------------------
# What the testbench must cover, counted by enumeration
# ---------------------------------------------------------------------------

def class_values(width, consts):
    """One value of every class of inputs that no comparison with these
    constants can tell apart."""
    top = (1 << width) - 1
    points = sorted(set(consts))
    vals = set(points)
    edges = [-1] + points + [top + 1]
    for a, b in zip(edges, edges[1:]):
        if b - a > 1:
            vals.add(a + 1)
    return sorted(vals)


def state_classes(model, labels):
    sigs = sorted({s for lab in labels if lab for term in model.symbols[lab] for s, _, _ in term})
    per = []
    for s in sigs:
        consts = [v for lab in labels if lab for term in model.symbols[lab] for t, _, v in term if t == s]
        per.append(class_values(model.signals[s], consts))
    total = 1
    for p in per:
        total *= len(p)
    if total > CLASS_LIMIT:
        return None
    base = {s: 0 for s in model.signals}
    out = []
    for combo in itertools.product(*per):
        vals = dict(base)
        vals.update(zip(sigs, combo))
        out.append(vals)
    return out


def expected_cover(model):
    """(rows that can fire from a reachable state, reachable states where
    some input fits no row), or None when a state has too many classes."""
    rows = model.rows
    by_state = {}
    for i, (src, _, _) in enumerate(rows):
        by_state.setdefault(src, []).append(i)
    fires, erring = {}, {}
    for st, idx in by_state.items():
        classes = state_classes(model, [rows[i][1] for i in idx])
        if classes is None:
            return None
        fires[st], erring[st] = set(), False
        for vals in classes:
            first = next((i for i in idx if model.holds(rows[i][1], vals)), None)
            if first is None:
                erring[st] = True
            else:
                fires[st].add(first)
    seen, queue = {model.start}, [model.start]
    while queue:
        st = queue.pop()
        for i in fires.get(st, ()):
            if rows[i][2] not in seen:
                seen.add(rows[i][2])
                queue.append(rows[i][2])
    nrows = sum(len(fires.get(st, ())) for st in seen)
    # A state with no rows (target only) errs on every input.
    nerr = sum(1 for st in seen if erring.get(st, True))
    return nrows, nerr


# ---------------------------------------------------------------------------
# Running the testbench
# ---------------------------------------------------------------------------

def ghdl_run(work, vhd, tb, flags, wdir):
    """Exit status and output of the testbench run in one GHDL mode."""
    os.makedirs(os.path.join(work, wdir), exist_ok=True)
    wd = "--workdir=" + wdir
    for cmd in (["ghdl", "-a"] + flags + [wd, vhd, tb], ["ghdl", "-e"] + flags + [wd, "guard_tb"]):
        p = run(cmd, work)
        if p.returncode != 0:
            return None, "`%s` failed:\n%s" % (" ".join(cmd), p.stdout)
    p = run(["ghdl", "-r"] + flags + [wd, "guard_tb", "-gTRACE=true", "--ieee-asserts=disable"], work)
    return p.returncode, p.stdout


CYCLE_RE = re.compile(r"^cycle (\d+): RESET=(.) (.*) ERROR=(.)\s*$")


def read_trace(out, model):
    """Per cycle (reset, values, ERROR) from the TRACE lines."""
    trace = []
    for line in out.splitlines():
        m = CYCLE_RE.match(line)
        if not m:
            continue
        vals = {}
        for part in m.group(3).split():
            name, bits = part.split("=")
            vals[name] = int(bits, 2)
        trace.append((m.group(2) == "1", vals, m.group(4)))
    return trace


def replay(model, trace):
    """ERROR per cycle as the description means it, and the rows taken."""
    by_state = {}
    for i, (src, _, _) in enumerate(model.rows):
        by_state.setdefault(src, []).append(i)
    state, errors, taken = model.start, [], set()
    for reset, vals, _ in trace:
        if reset:
            state = model.start
        elif state == simtest.SERR:
            state = model.start
        else:
            first = next((i for i in by_state.get(state, []) if model.holds(model.rows[i][1], vals)), None)
            if first is None:
                state = simtest.SERR
            else:
                taken.add(first)
                state = model.rows[first][2]
        errors.append("1" if state == simtest.SERR else "0")
    return errors, taken


REPORT_RE = re.compile(r"rows taken: (\d+) of (\d+), error checks passed: (\d+) of (\d+), failed assertions: (\d+)")
HEADER_RE = re.compile(r"^-- Rows of the description covered: (\d+) of", re.M)


# ---------------------------------------------------------------------------
# Mutations of the written checker
# ---------------------------------------------------------------------------

def arms(lines):
    """For each state, the (condition line, target line) of its branches."""
    out, state = {}, None
    for k, line in enumerate(lines):
        m = re.match(r"^\s*when\s+(\w+)\s*=>\s*$", line)
        if m:
            state = m.group(1)
            out[state] = []
        elif state and re.match(r"^\s*(if|elsif)\s*\(.*\)\s*then\s*$", line):
            out[state].append((k, k + 1))
        elif state and re.match(r"^\s*(else|end if;)", line):
            state = None
    return out


def branch_of(desc, row):
    st = desc["rows"][row][0]
    return st, sum(1 for r in desc["rows"][:row] if r[0] == st)


def overlap(model, a, b):
    classes = state_classes(model, [a, b]) or []
    return any(model.holds(a, v) and model.holds(b, v) for v in classes)


def mutations(desc, model, rng):
    """(name, mutated rows, edit of the checker's lines) candidates."""
    rows = desc["rows"]
    n = len(rows)
    out = []
    pairs = [(a, b) for a in range(n) for b in range(a + 1, n) if rows[a][2] != rows[b][2]]
    if pairs:
        a, b = rng.choice(pairs)
        new = list(rows)
        new[a], new[b] = (rows[a][0], rows[a][1], rows[b][2]), (rows[b][0], rows[b][1], rows[a][2])

        def swap_targets(lines, a=a, b=b):
            (sa, ia), (sb, ib) = branch_of(desc, a), branch_of(desc, b)
            ar = arms(lines)
            ta, tb = ar[sa][ia][1], ar[sb][ib][1]
            lines[ta], lines[tb] = lines[tb], lines[ta]
        out.append(("swap targets of rows %d and %d" % (a + 1, b + 1), new, swap_targets))
    # Two rows of one state whose symbols can hold together.
    same = [(a, b) for a in range(n) for b in range(a + 1, n)
            if rows[a][0] == rows[b][0] and rows[a][1:] != rows[b][1:]
            and overlap(model, rows[a][1], rows[b][1])]
    if same:
        a, b = rng.choice(same)

        def swap_rows(lines, a=a, b=b):
            st, i = branch_of(desc, a)
            _, j = branch_of(desc, b)
            text = simtest.mutate_vhdl("\n".join(lines), st, i, j)
            lines[:] = text.split("\n")
        out.append(("swap rows %d and %d" % (a + 1, b + 1), simtest.swapped_rows(rows, a, b), swap_rows))
    if n < 2:
        return out
    a = rng.randrange(n)

    def drop(lines, a=a):
        st, i = branch_of(desc, a)
        cond, target = arms(lines)[st][i]
        if i == 0:
            nxt = cond + 2
            lines[nxt] = re.sub(r"^(\s*)elsif", r"\1if", lines[nxt])
            lines[nxt] = re.sub(r"^(\s*)else\s*$", r"\1if (TRUE) then", lines[nxt])
        del lines[cond:target + 1]
    out.append(("drop row %d" % (a + 1), rows[:a] + rows[a + 1:], drop))
    return out


# ---------------------------------------------------------------------------
# One description
# ---------------------------------------------------------------------------

class Result:
    def __init__(self, name):
        self.name = name
        self.ok = True
        self.lines = []
        self.killed = self.changing = self.same = 0
        self.enumerated = False

    def fail(self, msg):
        self.ok = False
        self.lines.append("FAIL %s: %s" % (self.name, msg))
        return self


def check_one(name, text, desc, args, rng, modes, work):
    res = Result(name)
    with open(os.path.join(work, "fsm.txt"), "w", newline="") as f:
        f.write(text)
    p = run([args.guardgen, "--testbench", "fsm.txt"], work)
    if p.returncode != 0:
        return res.fail("guardgen exited %d:\n%s" % (p.returncode, p.stdout))
    model = simtest.Model(desc)
    with open(os.path.join(work, "fsm_tb.vhd")) as f:
        header = HEADER_RE.search(f.read())
    expected = expected_cover(model)
    res.enumerated = expected is not None
    trace = None
    for wdir, flags in modes:
        status, out = ghdl_run(work, "fsm.vhd", "fsm_tb.vhd", flags, wdir)
        mode = " ".join(flags)
        if status != 0:
            return res.fail("testbench fails on the checker guardgen wrote (GHDL %s):\n%s" % (mode, out[-3000:]))
        report = REPORT_RE.search(out)
        if not report or "GUARD_TB: PASS" not in out:
            return res.fail("no final report (GHDL %s):\n%s" % (mode, out[-3000:]))
        trace = read_trace(out, model)
        errors, taken = replay(model, trace)
        seen = [e for _, _, e in trace]
        if seen != errors:
            k = next(i for i in range(len(seen)) if seen[i] != errors[i])
            return res.fail("ERROR in cycle %d is %s, the description means %s (GHDL %s)"
                            % (k + 1, seen[k], errors[k], mode))
        rows_taken, rows_planned, err_ok, err_planned, _ = map(int, report.groups())
        want_rows, want_err = expected if expected else (int(header.group(1)), err_planned)
        if len(taken) != want_rows or rows_taken != want_rows or rows_planned != want_rows:
            return res.fail("rows taken: %d distinct in the stimulus, %d reported, %d can fire"
                            % (len(taken), rows_taken, want_rows))
        if err_ok != want_err or err_planned != want_err:
            return res.fail("error checks: %d of %d passed, %d reachable states can err"
                            % (err_ok, err_planned, want_err))
    if not args.mutate:
        return res
    with open(os.path.join(work, "fsm.vhd")) as f:
        original = f.read().split("\n")
    base, _ = replay(model, trace)
    for what, rows, edit in mutations(desc, model, rng):
        lines = list(original)
        edit(lines)
        changed = simtest.Model(dict(desc, rows=rows))
        changed.start = model.start  # the checker's reset state stays as written
        mutated, _ = replay(changed, trace)
        if mutated == base:
            res.same += 1
            continue
        res.changing += 1
        with open(os.path.join(work, "mut.vhd"), "w") as f:
            f.write("\n".join(lines))
        wdir, flags = modes[0]
        status, out = ghdl_run(work, "mut.vhd", "fsm_tb.vhd", flags, wdir + "m")
        if status is None:
            return res.fail("mutant (%s) does not compile: %s" % (what, out))
        if status == 0:
            return res.fail("testbench passes a checker with %s, which changes ERROR" % what)
        res.killed += 1
    return res


def run_seed(seed, args):
    rng = random.Random(seed)
    desc = variant(simtest.generate(rng), rng, seed)
    text = simtest.render(desc, rng)
    work = tempfile.mkdtemp(prefix="guardgen_tb_%d_" % seed)
    try:
        res = check_one("seed %d" % seed, text, desc, args, rng, args.modes, work)
        if not res.ok:
            res.lines.append("description:\n" + simtest.show_text(text))
            res.lines.append("replay: python3 %s --guardgen %s --seeds %d:%d%s" % (
                sys.argv[0], args.guardgen, seed, seed + 1, " --mutate" if args.mutate else ""))
        return res
    finally:
        if args.keep:
            shutil.copytree(work, os.path.join(args.keep, "seed_%d" % seed), dirs_exist_ok=True)
        shutil.rmtree(work, ignore_errors=True)


def run_example(path, args):
    with open(path, newline="") as f:
        text = f.read()
    desc = simtest.parse_description(text)
    work = tempfile.mkdtemp(prefix="guardgen_tb_ex_")
    try:
        return check_one(os.path.basename(path), text, desc, args, random.Random(0), args.modes, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description="Run guardgen's testbenches in GHDL.")
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--seeds", type=simtest.seed_range, default=range(0, 0))
    ap.add_argument("--examples", metavar="DIR", help="also every DIR/*.txt")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--mutate", action="store_true", help="also require the testbench to fail on changed checkers")
    ap.add_argument("--modes", type=int, choices=[1, 2], default=2, help="GHDL modes per description")
    ap.add_argument("--keep", metavar="DIR")
    args = ap.parse_args()
    args.guardgen = os.path.abspath(args.guardgen)
    args.modes = simtest.GHDL_MODES[:args.modes]
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)

    jobs = []
    if args.examples:
        for name in sorted(os.listdir(args.examples)):
            if name.endswith(".txt"):
                jobs.append((name, lambda p=os.path.join(args.examples, name): run_example(p, args)))
    for seed in args.seeds:
        jobs.append(("seed %d" % seed, lambda s=seed: run_seed(s, args)))

    def one(job):
        try:
            return job[1]()
        except Exception as e:  # the test's own crash still fails the run
            res = Result(job[0])
            return res.fail("test error %s: %s" % (type(e).__name__, e))

    failed = killed = changing = same = enumerated = total = 0
    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for res in pool.map(one, jobs):
            total += 1
            for line in res.lines:
                print(line)
            failed += not res.ok
            killed += res.killed
            changing += res.changing
            same += res.same
            enumerated += res.enumerated
            sys.stdout.flush()
    print("%d descriptions, coverage counted by enumeration for %d" % (total, enumerated))
    if args.mutate:
        rate = 100.0 * killed / changing if changing else 100.0
        print("mutants: %d change ERROR on the stimulus, %d killed (%.1f%%); %d do not change it"
              % (changing, killed, rate, same))
    print("%d passed, %d failed" % (total - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
