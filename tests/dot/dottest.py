#!/usr/bin/env python3
"""--dot test for guardgen.

Every picture guardgen writes must be read by Graphviz without a word on
standard error, and must show exactly the described machine. For each
description (every example, hand cases of names DOT treats specially, of
the longest names and constants, and random descriptions from the
simulation test's generator) it runs guardgen --dot, lays out the .dot with
the real `dot -Tsvg -Tjson`, and reads the graph back from the JSON:

- the nodes are the entry point and the states, in the order of the
  checker's state type (read from the .vhd);
- the edges are the entry arrow to the start state and one per row, with
  the row's ends, its label (priority where the state has several rows,
  "(vzdy)" without a symbol) and its symbol's condition as tooltip;
- the start state has the double outline, states without rows are filled
  red, and nothing else is;
- rows that can never fire are dashed grey and states that cannot be
  reached grey. Where the inputs have at most MAX_EXHAUSTIVE_BITS bits, the
  test knows which rows fire by trying every input; elsewhere it checks
  what is certain (rows after an unlabeled row, or after a row with the
  same symbol, never fire) and that the grey states are exactly those the
  solid edges do not reach from the start.

Usage: python3 tests/dot/dottest.py --guardgen PATH [--examples DIR]
                                    [--seeds A:B] [--keep DIR]
"""

import argparse
import collections
import glob
import itertools
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "sim"))
import simtest  # noqa: E402

ENTRY = "(start)"
UNLABELED = "(vzdy)"
# Constants longer than this are shortened in tooltips.
LONG_CONSTANT, CONSTANT_END = 64, 16
MAX_EXHAUSTIVE_BITS = 10
BATCH = 40
KEYWORDS = ["NODE", "EDGE", "GRAPH", "DIGRAPH", "SUBGRAPH", "STRICT"]


def hand_cases():
    """(name, description text) of the cases the random generator never
    makes."""
    cases = []
    # DOT keywords, in any case, as states, as input symbols, as signals.
    cased = ["node", "Edge", "GRAPH", "diGraph", "SubGraph", "sTRICT"]
    rows = "".join("(%s, X%d) : %s;\n(%s) : %s;\n" % (s, i % 2, cased[(i + 1) % 6], s, s)
                   for i, s in enumerate(cased))
    cases.append(("keywords_as_states", "@\nX0 = S == 1;\nX1 = S == 0 OR T < 10;\n#\n" + rows))
    defs = "".join("%s = S == %d AND T >= 0%d;\n" % (k, i % 2, i % 2) for i, k in enumerate(cased))
    rows = "".join("(Q%d, %s) : Q%d;\n" % (i % 3, k, (i + 1) % 3) for i, k in enumerate(cased))
    cases.append(("keywords_as_symbols", "@\n" + defs + "#\n" + rows))
    defs = "".join("A%d = %s == 1 OR %s <> 1;\n" % (i, k, cased[(i + 1) % 6]) for i, k in enumerate(cased))
    cases.append(("keywords_as_signals", "@\n" + defs + "#\n(Q, A0) : Q;\n(Q, A5) : R;\n"))

    # The longest names of every kind.
    state, other = "S" * 1023, "T" + "_X" * 511
    symbol, signal = "Y" * 1023, "Z" + "9" * 1022
    cases.append(("longest_names", "@\n%s = %s == 1;\n#\n(%s, %s) : %s;\n(%s) : %s;\n"
                  % (symbol, signal, state, symbol, other, other, state)))

    # Constants at and beyond the tooltip's limit, up to the longest allowed.
    wide = "10" * 500000
    cases.append(("long_constants",
                  "@\nA = P == %s;\nB = Q >= %s AND W <> %s;\nC = W == %s;\n#\n"
                  "(R, A) : R;\n(R, B) : T;\n(T, C) : R;\n"
                  % ("1" * LONG_CONSTANT, "01" * 40 + "1", wide, "1" + wide[1:])))

    # Rows that never fire and states never reached, also ones with no rows.
    cases.append(("dead_rows", """@
A = S == 1;
NEVER = S == 1 AND S == 0;
#
(IDLE, A) : RUN;
(IDLE) : IDLE;
(IDLE, A) : LOST;
(RUN, NEVER) : GONE;
(RUN, A) : RUN;
(RUN, A) : GONE;
(RUN) : IDLE;
(GONE, A) : IDLE;
(AWAY, A) : IDLE;
"""))
    return cases


def random_cases(seeds):
    for seed in seeds:
        rng = random.Random(seed)
        desc = simtest.generate(rng)
        yield "random_%d" % seed, simtest.render(desc, rng)


def example_cases(examples):
    paths = sorted(glob.glob(os.path.join(examples, "*.txt")) +
                   glob.glob(os.path.join(examples, "*", "*.txt")))
    for path in paths:
        with open(path) as f:
            yield "example_" + os.path.splitext(os.path.basename(path))[0], f.read()


def digits(value, width):
    text = format(value, "0%db" % width)
    if len(text) <= LONG_CONSTANT:
        return text
    return "%s...%s (%d bitu)" % (text[:CONSTANT_END], text[-CONSTANT_END:], len(text))


def tooltip(desc, name):
    parts = []
    for conn, sig, op, value in dict(desc["symbols"])[name]:
        if conn:
            parts.append(conn)
        parts.append("%s %s %s" % (sig, op, digits(value, desc["signals"][sig])))
    return name + " = " + " ".join(parts)


def firing_rows(desc):
    """The rows (indexes) that some input makes the first of their state to
    hold, by trying every input; None when the inputs are too wide."""
    signals = sorted(desc["signals"].items())
    if sum(w for _, w in signals) > MAX_EXHAUSTIVE_BITS:
        return None
    model = simtest.Model(desc)
    by_state = collections.defaultdict(list)
    for r, (src, label, _) in enumerate(desc["rows"]):
        by_state[src].append((r, label))
    fired = set()
    for values in itertools.product(*[range(1 << w) for _, w in signals]):
        vals = {name: v for (name, _), v in zip(signals, values)}
        for rows in by_state.values():
            for r, label in rows:
                if model.holds(label, vals):
                    fired.add(r)
                    break
    return fired


def certainly_dead(desc):
    """Rows no input can fire, whatever their symbols mean: those after an
    unlabeled row of their state, or after a row with the same symbol."""
    dead, seen = set(), collections.defaultdict(set)
    for r, (src, label, _) in enumerate(desc["rows"]):
        if None in seen[src] or label in seen[src]:
            dead.add(r)
        seen[src].add(label)
    return dead


def reached(start, edges):
    """States reached from the start over the given (source, target) pairs."""
    succ = collections.defaultdict(list)
    for src, dst in edges:
        succ[src].append(dst)
    seen, todo = {start}, [start]
    while todo:
        for nxt in succ[todo.pop()]:
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def grey(attrs):
    return attrs.get("color") == "grey" and attrs.get("fontcolor") == "grey"


def check(desc, state_order, graph):
    """Faults of the graph read back from dot's JSON, as strings."""
    faults = []
    rows = desc["rows"]
    start = rows[0][0]
    objects = {o["_gvid"]: o for o in graph.get("objects", [])}
    nodes = [o for o in graph.get("objects", []) if "nodes" not in o]
    names = [n["name"] for n in nodes]
    if names != [ENTRY] + state_order:
        faults.append("nodes %r, expected %r" % (names[:20], ([ENTRY] + state_order)[:20]))
        return faults
    node = {n["name"]: n for n in nodes}
    if node[ENTRY].get("shape") != "point":
        faults.append("the entry node is not a point")

    # Edges: the entry arrow, then one per row.
    count = collections.Counter(src for src, _, _ in rows)
    priority = collections.Counter()
    expected = {}
    for r, (src, label, dst) in enumerate(rows):
        priority[src] += 1
        text = (label or UNLABELED) if count[src] == 1 else "%d: %s" % (priority[src], label or UNLABELED)
        tip = tooltip(desc, label) if label else "bez vstupniho symbolu: plati vzdy"
        expected[(src, text)] = (r, dst, tip)
    entry, seen, dashed = [], set(), set()
    for e in graph.get("edges", []):
        tail, head = objects[e["tail"]]["name"], objects[e["head"]]["name"]
        if tail == ENTRY:
            entry.append(head)
            continue
        key = (tail, e.get("label"))
        if key not in expected or key in seen:
            faults.append("edge %s -> %s %r is no row or drawn twice" % (tail, head, e.get("label")))
            continue
        seen.add(key)
        r, dst, tip = expected[key]
        if head != dst:
            faults.append("row %d goes to %s, drawn to %s" % (r + 1, dst, head))
        if e.get("tooltip") != tip:
            faults.append("row %d tooltip %r, expected %r" % (r + 1, e.get("tooltip", "")[:200], tip[:200]))
        if e.get("style") == "dashed":
            dashed.add(r)
            if not grey(e):
                faults.append("row %d is dashed but not grey" % (r + 1))
        elif "color" in e or "style" in e:
            faults.append("row %d is styled %r" % (r + 1, (e.get("style"), e.get("color"))))
    if len(seen) != len(rows):
        faults.append("%d rows, %d drawn" % (len(rows), len(seen)))
    if entry != [start]:
        faults.append("entry arrows to %r, expected [%s]" % (entry, start))

    # Start, error and unreachable states.
    sources = set(count)
    for name in state_order:
        n = node[name]
        if (n.get("peripheries") == "2") != (name == start):
            faults.append("state %s: peripheries %r" % (name, n.get("peripheries")))
        error = name not in sources
        if (n.get("fillcolor") == "#ffdddd" and n.get("style") == "filled") != error:
            faults.append("state %s: %s but filled %r" % (name, "no rows" if error else "has rows",
                                                          n.get("fillcolor")))
        if error and not grey(n) and n.get("color") != "red":
            faults.append("state %s has no rows but is not red" % name)

    # Rows that never fire and states never reached.
    fired = firing_rows(desc)
    if fired is not None:
        must_dash = set(range(len(rows))) - fired
        if dashed != must_dash:
            faults.append("dashed rows %s, never firing %s"
                          % (sorted(r + 1 for r in dashed), sorted(r + 1 for r in must_dash)))
    elif not certainly_dead(desc) <= dashed:
        faults.append("rows %s never fire but are solid"
                      % sorted(r + 1 for r in certainly_dead(desc) - dashed))
    live = [(rows[r][0], rows[r][2]) for r in range(len(rows)) if r not in dashed]
    if fired is not None:
        live = [(rows[r][0], rows[r][2]) for r in sorted(fired)]
    reach = reached(start, live)
    for name in state_order:
        if grey(node[name]) == (name in reach):
            faults.append("state %s is %s but %s" % (name, "grey" if grey(node[name]) else "not grey",
                                                    "reached" if name in reach else "not reached"))
    return faults


def state_type(vhd_path):
    with open(vhd_path) as f:
        text = f.read()
    m = re.search(r"type\s+t_state\s+is\s*\(([^)]*)\)", text, re.I)
    return [s.strip() for s in m.group(1).split(",") if s.strip() != "Serr"]


def render(dot_files, work):
    """Lays out the files in one dot run; the stderr of the run, or of the
    first file that complains when the batch did."""
    cmd = ["dot", "-Tsvg", "-Tjson", "-O"]
    proc = subprocess.run(cmd + dot_files, cwd=work, capture_output=True, text=True)
    if not proc.stderr and proc.returncode == 0:
        return None
    for path in dot_files:
        one = subprocess.run(cmd + [path], cwd=work, capture_output=True, text=True)
        if one.stderr or one.returncode:
            return "%s: dot exit %d: %s" % (path, one.returncode, one.stderr.strip()[:2000])
    return "dot exit %d: %s" % (proc.returncode, proc.stderr.strip()[:2000])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--examples", default=os.path.join(HERE, "..", "..", "examples"))
    ap.add_argument("--seeds", type=simtest.seed_range, default=range(0, 300))
    ap.add_argument("--keep", metavar="DIR", help="work in DIR and keep the files")
    a = ap.parse_args()
    guardgen = os.path.abspath(a.guardgen)
    work = a.keep or tempfile.mkdtemp(prefix="guardgen-dot-")
    os.makedirs(work, exist_ok=True)
    failures = []
    cases = list(example_cases(a.examples)) + hand_cases() + list(random_cases(a.seeds))
    try:
        written = []
        for name, text in cases:
            with open(os.path.join(work, name + ".txt"), "w") as f:
                f.write(text)
            proc = subprocess.run([guardgen, "--dot", name + ".txt"], cwd=work,
                                  capture_output=True, text=True)
            if proc.returncode != 0 or not os.path.exists(os.path.join(work, name + ".dot")):
                failures.append("%s: guardgen exit %d: %s" % (name, proc.returncode, proc.stderr))
                continue
            written.append((name, text))
        for i in range(0, len(written), BATCH):
            batch = written[i:i + BATCH]
            problem = render([name + ".dot" for name, _ in batch], work)
            if problem:
                failures.append(problem)
                continue
            for name, text in batch:
                base = os.path.join(work, name)
                try:
                    ET.parse(base + ".dot.svg")
                except ET.ParseError as err:
                    failures.append("%s: the SVG is no XML: %s" % (name, err))
                with open(base + ".dot.json") as f:
                    graph = json.load(f)
                faults = check(simtest.parse_description(text), state_type(base + ".vhd"), graph)
                failures.extend("%s: %s" % (name, fault) for fault in faults[:10])
        for failure in failures:
            print("FAIL " + failure)
        print("%d descriptions, %d failures" % (len(cases), len(failures)))
        return 1 if failures else 0
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
