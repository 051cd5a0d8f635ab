#!/usr/bin/env python3
"""Exhaustive oracle for guardgen --lint.

For every seed: generate a random description whose input bits total at
most 16, run `guardgen --lint` on it, and derive the findings by brute force
over every input vector, here, sharing no code with guardgen. The findings
(line, kind, state or symbol, shadowing lines) and the exit status must be
exactly the same, and the lines must come in order.

Truth tables are Python integers with one bit per input vector, so every
condition over all 2**16 vectors is a handful of big-integer operations.

Usage:
  python3 tests/lint/linttest.py --guardgen PATH [--seeds A:B] [--keep DIR]

Standard library only; reuses the generator and renderer of tests/sim.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sim"))
import simtest  # noqa: E402

MAX_BITS = 16

# The example of the issue that asked for --lint, with its findings.
ISSUE_EXAMPLE = """@ GO = REQ == 1;  STOP = REQ == 0;
#
(IDLE, GO) : RUNN;        // typo of RUN
(RUN, STOP) : IDLE;
(RUN) : RUN;
(RUN, GO) : IDLE;         // can never fire: the row above always holds
"""
ISSUE_FINDINGS = [
    "Varovani[line=3, column=0]: Stav RUNN nema zadny prechod, kazdy takt v nem je chyba (mysleno RUN?)",
    "Varovani[line=4, column=0]: Stav RUN neni dosazitelny z pocatecniho stavu IDLE",
    "Varovani[line=6, column=0]: Prechod ze stavu RUN se nikdy neuplatni, vzdy plati drive radek 5",
]


# ---------------------------------------------------------------------------
# Reading the text back, with the line of every definition and row
# ---------------------------------------------------------------------------

def token_lines(text):
    """The line of every token simtest.tokenize returns, in order."""
    lines = []
    i, n, line = 0, len(text), 1
    while True:
        while i < n and text[i] in " \t\n\r\v\f":
            line += text[i] == "\n"
            i += 1
        if i >= n or text[i] == "$":
            break
        c = text[i]
        if c == "/":
            if text[i:i + 2] == "//":
                end = text.find("\n", i)
                i = n if end < 0 else end
            else:
                line += text[i + 1:i + 2] == "\n"
                i += 2
            continue
        lines.append(line)
        if text[i:i + 2] in ("<=", ">=", "==", "<>"):
            i += 2
        elif c.isdigit():
            while i < n and text[i].isdigit():
                i += 1
        elif c.isalpha() or c == "_":
            while i < n and (text[i].isalnum() or text[i] == "_"):
                i += 1
        else:
            i += 1
    return lines


def positions(text):
    """Lines of the definitions (by symbol name) and of the rows (in order)."""
    toks = simtest.tokenize(text)
    lines = token_lines(text)
    assert len(lines) == len(toks) - 1, "test tokenizers disagree"
    defs, rows = {}, []
    in_rows = False
    for k, tok in enumerate(toks[:-1]):
        if tok == ("p", "#"):
            in_rows = True
        elif not in_rows and tok[0] == "id" and toks[k + 1] == ("p", "="):
            defs[tok[1]] = lines[k]
        elif in_rows and tok == ("p", "("):
            rows.append(lines[k])
    return defs, rows


# ---------------------------------------------------------------------------
# Brute force: truth tables over every input vector
# ---------------------------------------------------------------------------

def truth_tables(desc):
    """Per symbol, the set of input vectors where it is '1', as a bit mask.
    A vector packs the signals one after the other."""
    offsets, bits = {}, 0
    for sig in sorted(desc["signals"]):
        offsets[sig] = bits
        bits += desc["signals"][sig]
    assert bits <= MAX_BITS
    total = 1 << bits

    def value_mask(sig, allowed):
        """Vectors whose signal SIG takes a value in ALLOWED (runs lo..hi)."""
        off, width = offsets[sig], desc["signals"][sig]
        block = 0
        for lo, hi in allowed:
            block |= ((1 << ((hi - lo + 1) << off)) - 1) << (lo << off)
        period = 1 << (off + width)
        repeat = 0
        for k in range(total // period):
            repeat |= 1 << (k * period)
        return block * repeat

    cache = {}
    tables = {}
    for name, comps in desc["symbols"]:
        holds, term = 0, None
        for conn, sig, op, value in comps:
            key = (sig, op, value)
            if key not in cache:
                width = desc["signals"][sig]
                cache[key] = value_mask(sig, runs([x for x in range(1 << width)
                                                   if simtest.compare(op, x, value)]))
            if conn == "OR":
                holds |= term
                term = None
            term = cache[key] if term is None else term & cache[key]
        tables[name] = holds | term
    return tables, (1 << total) - 1


def runs(values):
    """Ascending values as (lo, hi) runs of consecutive numbers."""
    out = []
    for x in values:
        if out and out[-1][1] == x - 1:
            out[-1][1] = x
        else:
            out.append([x, x])
    return out


def edit_distance(a, b):
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
        prev = cur
    return prev[-1]


def expected_findings(desc, text):
    """The findings as (line, kind, name, extra), from the truth tables."""
    defs, row_lines = positions(text)
    tables, everything = truth_tables(desc)
    rows = desc["rows"]
    found = []

    for name, _ in desc["symbols"]:
        if tables[name] == 0:
            found.append((defs[name], "L4", name, None))
        if all(label != name for _, label, _ in rows):
            found.append((defs[name], "L5", name, None))

    # Rows of each state in order: the first to hold takes the input.
    fires = [False] * len(rows)
    region = [0] * len(rows)
    left = {}
    for k, (src, label, _) in enumerate(rows):
        cond = everything if label is None else tables[label]
        rest = left.get(src, everything)
        region[k] = rest & cond
        fires[k] = region[k] != 0
        left[src] = rest & ~cond
        if cond == 0:
            found.append((row_lines[k], "L3never", src, label))
        elif not fires[k]:
            shadow = {row_lines[j] for j in range(k)
                      if rows[j][0] == src and region[j] & cond}
            found.append((row_lines[k], "L3shadow", src, tuple(sorted(shadow))))

    first_line = {}
    for k, (src, _, dst) in enumerate(rows):
        first_line.setdefault(src, row_lines[k])
        first_line.setdefault(dst, row_lines[k])
    sources = {src for src, _, _ in rows}
    for st in first_line:
        if st not in sources:
            found.append((first_line[st], "L1", st, None))

    start = rows[0][0]
    reach, todo = {start}, [start]
    while todo:
        st = todo.pop()
        for k, (src, _, dst) in enumerate(rows):
            if src == st and fires[k] and dst not in reach:
                reach.add(dst)
                todo.append(dst)
    for st in first_line:
        if st not in reach:
            found.append((first_line[st], "L2", st, start))
    return sorted(found, key=repr)


PATTERNS = [
    ("L1", re.compile(r"^Stav (\w+) nema zadny prechod, kazdy takt v nem je chyba(?: \(mysleno (\w+)\?\))?$")),
    ("L2", re.compile(r"^Stav (\w+) neni dosazitelny z pocatecniho stavu (\w+)$")),
    ("L3shadow", re.compile(r"^Prechod ze stavu (\w+) se nikdy neuplatni, vzdy plati drive rad(?:ek|ky) ([0-9, ]+)$")),
    ("L3never", re.compile(r"^Prechod ze stavu (\w+) se nikdy neuplatni, vstupni symbol (\w+) neni nikdy 1$")),
    ("L4", re.compile(r"^Vstupni symbol (\w+) neni nikdy 1$")),
    ("L5", re.compile(r"^Vstupni symbol (\w+) neni pouzit v zadnem prechodu$")),
]
LINE = re.compile(r"^Varovani\[line=(\d+), column=(\d+)\]: (.*)$")


def reported_findings(stderr, desc, problems):
    """guardgen's findings in the same shape; problems collects what does
    not read as a finding, and suggestions that are wrong."""
    found, lines = [], []
    sources = {src for src, _, _ in desc["rows"]}
    for text in stderr.splitlines():
        m = LINE.match(text)
        if not m:
            problems.append("not a finding: %r" % text)
            continue
        line, message = int(m.group(1)), m.group(3)
        lines.append(line)
        for kind, pattern in PATTERNS:
            p = pattern.match(message)
            if not p:
                continue
            name, extra = p.group(1), p.group(2) if pattern.groups > 1 else None
            if kind == "L1":
                near = [s for s in sources if edit_distance(s, name) <= 2]
                if extra is not None and extra not in near:
                    problems.append("bad suggestion %s for %s" % (extra, name))
                if extra is None and near:
                    problems.append("no suggestion for %s, though %s is near" % (name, near))
                extra = None
            if kind == "L3shadow":
                extra = tuple(int(x) for x in extra.split(", "))
            found.append((line, kind, name, extra))
            break
        else:
            problems.append("unknown finding: %r" % text)
    if lines != sorted(lines):
        problems.append("findings not in line order")
    return sorted(found, key=repr)


# ---------------------------------------------------------------------------
# Descriptions
# ---------------------------------------------------------------------------

def small_widths(rng, count):
    """Widths for COUNT signals that total at most MAX_BITS bits."""
    widths = [1] * count
    for _ in range(rng.randint(0, MAX_BITS - count)):
        k = rng.randrange(count)
        if widths[k] < MAX_BITS:
            widths[k] += 1
    return widths


def pool_constant(rng, pool, width):
    """A constant near the ones used already: equal, adjacent, or extreme."""
    top = (1 << width) - 1
    r = rng.random()
    if pool and r < 0.5:
        base = rng.choice(pool)
        return min(top, max(0, base + rng.choice([0, 0, 1, -1, 2, -2])))
    if r < 0.7:
        return rng.choice([0, top, 1, max(top - 1, 0)])
    return rng.randint(0, top)


def structured(rng, flavour):
    """A description stressing one kind of trouble: OR-ed shadowing, <>
    exclusions, equal and adjacent constants, or the widest constants."""
    nsig = 1 if flavour == "widest" else rng.randint(1, 4)
    names = simtest.make_names(rng, simtest.SIGNAL_PREFIXES, nsig)
    widths = [MAX_BITS] if flavour == "widest" else small_widths(rng, nsig)
    signals = dict(zip(names, widths))
    pools = {s: [] for s in names}

    def comparison(sig):
        width = signals[sig]
        if flavour == "exclusion" and rng.random() < 0.5:
            op = "<>"
        elif flavour == "adjacent" and rng.random() < 0.5:
            op = rng.choice(["<", ">", "<=", ">="])
        else:
            op = rng.choice(simtest.OPS)
        value = pool_constant(rng, pools[sig], width)
        pools[sig].append(value)
        return sig, op, value

    symbols = []
    sym_names = simtest.make_names(rng, simtest.SYMBOL_PREFIXES, rng.randint(2, 9))
    for name in sym_names:
        comps = []
        for t in range(rng.randint(1, 3 if flavour == "or" else 2)):
            for c in range(rng.randint(1, 3)):
                conn = None if not comps else ("OR" if c == 0 else "AND")
                comps.append((conn,) + comparison(rng.choice(names)))
        symbols.append((name, comps))
    if flavour == "or" and len(names) >= 1:
        # Two symbols that split one signal at a constant, and one that
        # falls inside their union, so that the OR of two rows shadows.
        sig = rng.choice(names)
        c = pool_constant(rng, pools[sig], signals[sig])
        lo_name, hi_name = simtest.make_names(rng, ["SPLITLO"], 1)[0], simtest.make_names(rng, ["SPLITHI"], 1)[0]
        symbols.append((lo_name, [(None, sig, "<", c), ("OR", sig, "==", c)]))
        symbols.append((hi_name, [(None, sig, ">", c)]))
        sym_names += [lo_name, hi_name]

    nsrc = rng.randint(1, 5)
    states = simtest.make_names(rng, simtest.STATE_PREFIXES, nsrc)
    rows = []
    for st in states:
        labels = rng.sample(sym_names, min(len(sym_names), rng.randint(1, 6)))
        if flavour == "or" and rng.random() < 0.6:
            labels = [sym_names[-2], sym_names[-1]] + labels
        for label in labels:
            rows.append([st, None if rng.random() < 0.06 else label, rng.choice(states)])
    rng.shuffle(rows)
    rows = typo_targets(rng, rows, states)
    return {"signals": signals, "symbols": symbols, "rows": [tuple(r) for r in rows]}


def typo_targets(rng, rows, states):
    """Now and then a target that misspells a state (a letter added, one
    changed, or two), so that L1 has a name to suggest, or one too far."""
    taken = set(states)
    for _ in range(rng.choice([0, 0, 1, 2])):
        base = rng.choice(states)
        edits = rng.choice([1, 1, 2, 3])
        name = base
        for _ in range(edits):
            name = name + "X" if rng.random() < 0.5 else name[:-1] + rng.choice("0123456789")
        if name in taken or name.endswith("_"):
            continue
        taken.add(name)
        rng.choice(rows)[2] = name
    return rows


def random_small(rng):
    """simtest's generator, kept to descriptions of at most MAX_BITS bits."""
    while True:
        desc = simtest.generate(rng)
        if sum(desc["signals"].values()) <= MAX_BITS:
            rows = typo_targets(rng, [list(r) for r in desc["rows"]],
                                sorted({r[0] for r in desc["rows"]}))
            desc["rows"] = [tuple(r) for r in rows]
            return desc


FLAVOURS = ["random", "or", "exclusion", "adjacent", "widest"]


def make(seed):
    rng = random.Random(seed)
    flavour = FLAVOURS[seed % len(FLAVOURS)]
    desc = random_small(rng) if flavour == "random" else structured(rng, flavour)
    # Names the generator made must not clash with one another.
    names = list(desc["signals"]) + [s for s, _ in desc["symbols"]]
    states = {r[0] for r in desc["rows"]} | {r[2] for r in desc["rows"]}
    if len(set(names) | states) != len(names) + len(states):
        return make(seed + 1000003)
    return flavour, desc, simtest.render(desc, rng)


# ---------------------------------------------------------------------------
# Running
# ---------------------------------------------------------------------------

def run_lint(guardgen, work, text):
    path = os.path.join(work, "desc.txt")
    with open(path, "w", newline="") as f:
        f.write(text)
    proc = subprocess.run([guardgen, "--lint", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=60)
    if os.path.exists(os.path.join(work, "desc.vhd")):
        return proc, "--lint alone wrote a checker"
    return proc, None


def check_issue_example(guardgen, work):
    proc, problem = run_lint(guardgen, work, ISSUE_EXAMPLE)
    if problem or proc.returncode != 2 or proc.stderr.splitlines() != ISSUE_FINDINGS:
        return ["issue example: status %d, stderr:\n%s" % (proc.returncode, proc.stderr)]
    return []


# A state whose rows double the analysis's boxes with every row: row i holds
# when P<i> and Q<i> are both 1, so what no earlier row takes is 2**i boxes.
# The analysis must give up on the later rows with one note, judge none of
# them, and still count B as reachable through the last one.
BUDGET_ROWS = 40
BUDGET_NOTE = re.compile(r"Poznamka\[line=(\d+), column=0\]: Podminky (\d+) prechodu jsou pro presnou "
                         r"analyzu prilis slozite, nic o nich neni hlaseno \(prvni je ze stavu A\)$")


def check_budget(guardgen, work):
    lines = ["@"]
    for i in range(BUDGET_ROWS):
        lines.append("X%d = P%d == 1 AND Q%d == 1;" % (i, i, i))
    lines.append("#")
    for i in range(BUDGET_ROWS - 1):
        lines.append("(A, X%d) : A;" % i)
    lines.append("(A, X%d) : B;" % (BUDGET_ROWS - 1))
    lines.append("(B, X0) : A;")
    first_row_line = BUDGET_ROWS + 3
    proc, problem = run_lint(guardgen, work, "\n".join(lines) + "\n")
    found = proc.stderr.splitlines()
    match = BUDGET_NOTE.match(found[0]) if len(found) == 1 else None
    if problem or proc.returncode != 0 or not match:
        return ["budget: status %d, stderr:\n%s" % (proc.returncode, proc.stderr)]
    line, count = int(match.group(1)), int(match.group(2))
    # Undecided rows run to the end of A; the note names the first of them.
    if not (first_row_line < line < first_row_line + BUDGET_ROWS and count == first_row_line + BUDGET_ROWS - line):
        return ["budget: note at line %d for %d rows" % (line, count)]
    return []


def check_seed(guardgen, work, seed):
    flavour, desc, text = make(seed)
    expected = expected_findings(desc, text)
    proc, problem = run_lint(guardgen, work, text)
    problems = [problem] if problem else []
    got = reported_findings(proc.stderr, desc, problems)
    want_status = 2 if expected else 0
    if proc.returncode != want_status:
        problems.append("exit status %d, expected %d" % (proc.returncode, want_status))
    if got != expected:
        problems.append("findings differ:\n  missing %s\n  extra %s" % (
            [f for f in expected if f not in got], [f for f in got if f not in expected]))
    if problems:
        return ["FAIL seed %d (%s): %s\n%s\nstderr:\n%s" % (
            seed, flavour, "\n".join(problems), simtest.show_text(text), proc.stderr)]
    return []


def seed_range(text):
    a, b = (int(x) for x in text.split(":"))
    if a >= b:
        raise argparse.ArgumentTypeError("seeds must be A:B with A < B")
    return range(a, b)


def main():
    ap = argparse.ArgumentParser(description="Exhaustive oracle for guardgen --lint.")
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--seeds", type=seed_range, default=range(0, 400), help="A:B (default 0:400)")
    a = ap.parse_args()
    guardgen = os.path.abspath(a.guardgen)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        failures += check_issue_example(guardgen, work)
        failures += check_budget(guardgen, work)
        for seed in a.seeds:
            failures += check_seed(guardgen, work, seed)
            if len(failures) >= 5:
                break
    for f in failures:
        print(f)
    print("%s: %d seeds, %d failures" % ("FAIL" if failures else "PASS", len(a.seeds), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
