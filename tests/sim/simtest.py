#!/usr/bin/env python3
"""Simulation test for guardgen.

For every seed: generate a random valid description, run guardgen on it,
analyse and elaborate the checker with GHDL in two modes, simulate it under a
seeded stimulus, and compare the ERROR trace cycle by cycle with a model of
the checker written here, which shares no code with guardgen.

Usage:
  python3 tests/sim/simtest.py --guardgen PATH [--seeds A:B] [--cycles N]
                               [--jobs J] [--keep DIR] [--mutate [--min-caught N]]

Standard library only.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

# Mixed case, so it can never equal a state name (those are upper case).
SERR = "Serr"
OPS = [">", "<", ">=", "<=", "==", "<>"]

# GHDL flag sets of the two modes every checker must pass.
GHDL_MODES = [
    ("w08", ["--std=08", "-fsynopsys"]),
    ("w93", ["--ieee=synopsys", "-fexplicit"]),
]

RESET_CYCLES = 2
# Hang guard only: no step of one seed comes anywhere near this.
STEP_TIMEOUT = 600


def compare(op, a, b):
    if op == ">":
        return a > b
    if op == "<":
        return a < b
    if op == ">=":
        return a >= b
    if op == "<=":
        return a <= b
    if op == "==":
        return a == b
    if op == "<>":
        return a != b
    raise ValueError("unknown operator " + op)


# ---------------------------------------------------------------------------
# Random descriptions
# ---------------------------------------------------------------------------
#
# A description is held as:
#   signals: dict NAME -> width (names upper case)
#   symbols: list of (NAME, comps) in definition order, where comps is a list
#            of (conn, SIGNAL, op, value); conn is None for the first
#            comparison, else "AND" or "OR"
#   rows:    list of (SRC, SYMBOL or None, DST) in description order
#
# A name is a prefix and a number. No prefix ends in a digit and the three
# kinds have disjoint prefixes, so names of different kinds never meet; every
# name ends in a digit, so none is a VHDL reserved word or a name the checker
# or the testbench uses. Some prefixes start like AND, OR or a word the
# checker uses, to catch a reader that matches keywords by prefix.

SIGNAL_PREFIXES = ["SIG", "SIG_", "IN_", "INP", "ORD", "AND_X", "CLK_", "DATA"]
SYMBOL_PREFIXES = ["SYM", "SYM_", "EV", "EV_", "ORS_", "ANDE", "ERROR_", "THEN_"]
STATE_PREFIXES = ["ST", "ST_", "Q", "Q_", "IF_", "ANDST", "SERR_", "NEXT_"]


def make_names(rng, prefixes, count):
    numbers = rng.sample(range(100), count)
    return [rng.choice(prefixes) + str(n) for n in numbers]


def random_const(rng, width):
    top = (1 << width) - 1
    if rng.random() < 0.3:
        return rng.choice([0, top, min(1, top), max(top - 1, 0)])
    return rng.randint(0, top)


def degenerate(op, value, width):
    """True when the comparison holds for every input or for none."""
    top = (1 << width) - 1
    return (op, value) in ((">=", 0), ("<", 0), ("<=", top), (">", top))


def random_comp(rng, signals, sig):
    """A comparison of the signal; comparisons that always or never hold
    are kept only now and then, or most machines would never err."""
    while True:
        op, value = rng.choice(OPS), random_const(rng, signals[sig])
        if not degenerate(op, value, signals[sig]) or rng.random() < 0.15:
            return op, value


def random_comps(rng, signals, sig_names):
    comps = []
    for i, sig in enumerate(sig_names):
        conn = None if i == 0 else ("AND" if rng.random() < 0.7 else "OR")
        comps.append((conn, sig) + random_comp(rng, signals, sig))
    return comps


def generate(rng):
    nsig = rng.randint(1, 8)
    sig_list = make_names(rng, SIGNAL_PREFIXES, nsig)
    signals = {name: rng.randint(1, 8) for name in sig_list}

    # Comparison counts per symbol, grown until every signal fits in a slot.
    nsym = rng.randint((nsig + 3) // 4, 8)
    counts = [rng.randint(1, 4) for _ in range(nsym)]
    while sum(counts) < nsig:
        i = rng.choice([k for k in range(nsym) if counts[k] < 4])
        counts[i] += 1
    slots = [(s, k) for s in range(nsym) for k in range(counts[s])]
    covered = rng.sample(range(len(slots)), nsig)
    assign = {}
    for slot_index, sig in zip(covered, rng.sample(sig_list, nsig)):
        assign[slots[slot_index]] = sig
    sym_sigs = []
    for s in range(nsym):
        sym_sigs.append([assign.get((s, k)) or rng.choice(sig_list) for k in range(counts[s])])
    comps_list = [random_comps(rng, signals, sigs) for sigs in sym_sigs]

    # Symbols that overlap an earlier one for certain, so that the order of
    # rows decides.
    extra = rng.choice([0, 0, 1, 2])
    for _ in range(extra):
        if len(comps_list) >= 8:
            break
        base = list(rng.choice(comps_list))
        if len(base) < 4 and rng.random() < 0.6:
            sig = rng.choice(sig_list)
            base.append(("OR", sig) + random_comp(rng, signals, sig))
        comps_list.insert(rng.randint(0, len(comps_list)), base)

    sym_names = make_names(rng, SYMBOL_PREFIXES, len(comps_list))
    symbols = list(zip(sym_names, comps_list))

    nsrc = rng.randint(1, 6)
    ntgt = rng.choice([0, 0, 1, 1, 2])
    state_names = make_names(rng, STATE_PREFIXES, nsrc + ntgt)
    sources, tgt_only = state_names[:nsrc], state_names[nsrc:]

    per_state = {}
    for st in sources:
        rows = []
        nrows = rng.randint(1, 4)
        for k in range(nrows):
            label = None if rng.random() < 0.08 else rng.choice(sym_names)
            # A leading unlabeled row makes the state's other rows dead and
            # the state unable to err; keep that rare.
            if label is None and k == 0 and nrows > 1 and rng.random() < 0.7:
                label = rng.choice(sym_names)
            pool = sources if rng.random() < 0.85 else state_names
            dst = rng.choice(pool)
            # Unlabeled self-loops would trap the machine for good.
            if dst == st and (label is None or rng.random() < 0.5):
                dst = rng.choice(pool)
            rows.append([st, label, dst])
        # Sometimes one label twice in a state with different targets.
        if len(rows) >= 2 and rows[0][1] and rng.random() < 0.2:
            rows[-1][1] = rows[0][1]
            others = [s for s in state_names if s != rows[0][2]]
            if others:
                rows[-1][2] = rng.choice(others)
        per_state[st] = rows

    # States that are only targets: each takes over the target of its own row.
    all_rows = [r for st in sources for r in per_state[st]]
    for row, st in zip(rng.sample(all_rows, min(len(all_rows), len(tgt_only))), tgt_only):
        row[2] = st

    # Either each state's rows together, or interleaved.
    order = []
    if rng.random() < 0.4:
        for st in rng.sample(sources, len(sources)):
            order.extend(per_state[st])
    else:
        queues = {st: list(per_state[st]) for st in sources}
        while queues:
            st = rng.choice(sorted(queues))
            order.append(queues[st].pop(0))
            if not queues[st]:
                del queues[st]

    # Repeated rows.
    for _ in range(rng.choice([0, 0, 1, 2])):
        pos = rng.randrange(len(order))
        order.insert(rng.randint(pos + 1, len(order)), list(order[pos]))

    rows = [tuple(r) for r in order]
    return {"signals": signals, "symbols": symbols, "rows": rows}


# ---------------------------------------------------------------------------
# Rendering a description as text, with random layout
# ---------------------------------------------------------------------------

def cased(rng, name):
    style = rng.randrange(4)
    if style == 0:
        return name.lower()
    if style == 1:
        return name.upper()
    if style == 2:
        return name[:1].upper() + name[1:].lower()
    return "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in name)


COMMENT_WORDS = ["state", "check", "x == 1", "(a, b) : c;", "@ # $", "%&*", "and", "or", "note"]


class Writer:
    """Builds the text token by token with random blanks, comments and line
    breaks between tokens."""

    def __init__(self, rng):
        self.rng = rng
        style = rng.randrange(3)
        self.newline_style = ["lf", "crlf", "mixed"][style]
        self.parts = []
        self.last_kind = None  # "word", "num", "punct" or None

    def nl(self):
        if self.newline_style == "lf":
            return "\n"
        if self.newline_style == "crlf":
            return "\r\n"
        return self.rng.choice(["\n", "\r\n"])

    def comment(self):
        words = " ".join(self.rng.choice(COMMENT_WORDS) for _ in range(self.rng.randint(0, 4)))
        return "//" + self.rng.choice(["", " ", "\t"]) + words + self.nl()

    def gap(self, needs_blank):
        r = self.rng.random()
        if r < 0.3 and not needs_blank:
            return ""
        if r < 0.75:
            return " "
        if r < 0.85:
            return "\t"
        if r < 0.9:
            return "  "
        if r < 0.95:
            return self.nl() + self.rng.choice(["", "  ", "\t"])
        return " " + self.comment()

    def token(self, kind, text):
        if self.last_kind is not None:
            needs = self.last_kind == "word" and kind in ("word", "num")
            needs = needs or (self.last_kind == "num" and kind == "num")
            # A number directly followed by a word still lexes as two
            # tokens; allow it now and then.
            if self.last_kind == "num" and kind == "word" and self.rng.random() < 0.8:
                needs = True
            self.parts.append(self.gap(needs))
        self.parts.append(text)
        self.last_kind = kind

    def end_line(self):
        r = self.rng.random()
        if r < 0.1:
            self.parts.append(self.rng.choice([" ", "\t", ""]) + self.comment())
        else:
            self.parts.append(self.rng.choice(["", "", "", " ", "\t"]) + self.nl())
        while self.rng.random() < 0.15:
            self.parts.append(self.rng.choice(["", "  ", "\t"]) + self.nl())
        if self.rng.random() < 0.1:
            self.parts.append(self.comment())
        self.last_kind = None

    def text(self):
        return "".join(self.parts)


def to_bits(value, width):
    return format(value, "0%db" % width)


def render(desc, rng):
    w = Writer(rng)
    if rng.random() < 0.3:
        w.parts.append(w.comment())
    if rng.random() < 0.2:
        w.parts.append(w.nl())
    w.token("punct", "@")
    w.end_line()
    for name, comps in desc["symbols"]:
        w.token("word", cased(rng, name))
        w.token("punct", "=")
        for conn, sig, op, value in comps:
            if conn:
                w.token("word", cased(rng, conn))
            w.token("word", cased(rng, sig))
            w.token("punct", op)
            w.token("num", to_bits(value, desc["signals"][sig]))
        w.token("punct", ";")
        w.end_line()
    w.token("punct", "#")
    w.end_line()
    for src, label, dst in desc["rows"]:
        w.token("punct", "(")
        w.token("word", cased(rng, src))
        if label is not None:
            w.token("punct", ",")
            w.token("word", cased(rng, label))
        w.token("punct", ")")
        w.token("punct", ":")
        w.token("word", cased(rng, dst))
        w.token("punct", ";")
        w.end_line()
    ending = rng.random()
    if ending < 0.15:
        w.parts.append("$" + w.nl())
    elif ending < 0.2:
        w.parts.append("$")
    elif ending < 0.3 and w.parts and w.parts[-1].endswith("\n"):
        # No line break after the last row.
        w.parts[-1] = w.parts[-1].rstrip("\r\n")
    return w.text()


# ---------------------------------------------------------------------------
# The model: reads the description text and runs the checker
# ---------------------------------------------------------------------------

class DescError(Exception):
    pass


DIGITS = "0123456789"
LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def tokenize(text):
    """Tokens of the description language: ("id", NAME), ("num", digits),
    ("and",), ("or",), ("op", op), ("p", char) and a final ("eof",)."""
    toks = []
    i, n = 0, len(text)
    blanks = " \t\n\r\v\f"
    while True:
        while i < n and text[i] in blanks:
            i += 1
        if i >= n:
            break
        c = text[i]
        if c == "/":
            if i + 1 < n and text[i + 1] == "/":
                end = text.find("\n", i)
                i = n if end < 0 else end + 1
            else:
                # A lone slash swallows the character after it.
                i += 2
            continue
        if c == "$":
            break
        if c in "<>=":
            two = text[i:i + 2]
            if two in ("<=", ">=", "==", "<>"):
                toks.append(("op", two))
                i += 2
            elif c == "=":
                toks.append(("p", "="))
                i += 1
            else:
                toks.append(("op", c))
                i += 1
            continue
        if c in "!(),;:@#":
            toks.append(("p", c))
            i += 1
            continue
        if c in LETTERS or c == "_":
            j = i
            while j < n and (text[j] in LETTERS or text[j] in DIGITS or text[j] == "_"):
                j += 1
            word = text[i:j].upper()
            i = j
            if word == "AND":
                toks.append(("and",))
            elif word == "OR":
                toks.append(("or",))
            else:
                toks.append(("id", word))
            continue
        if c in DIGITS:
            j = i
            while j < n and text[j] in DIGITS:
                j += 1
            toks.append(("num", text[i:j]))
            i = j
            continue
        raise DescError("unknown character %r" % c)
    toks.append(("eof",))
    return toks


def parse_description(text):
    """The description as this test understands it, in the same shape as
    generate() returns, built from the text alone."""
    toks = tokenize(text)
    pos = [0]

    def peek():
        return toks[pos[0]]

    def take(*kind):
        t = toks[pos[0]]
        if t[:len(kind)] != kind:
            raise DescError("expected %r, got %r" % (kind, t))
        pos[0] += 1
        return t

    signals = {}
    symbols = []
    take("p", "@")
    while peek()[0] == "id":
        name = take("id")[1]
        take("p", "=")
        comps = []
        conn = None
        while True:
            sig = take("id")[1]
            op = take("op")[1]
            digits = take("num")[1]
            if set(digits) - set("01"):
                raise DescError("constant %s is not binary" % digits)
            signals.setdefault(sig, len(digits))
            if signals[sig] != len(digits):
                raise DescError("constant %s does not fit signal %s" % (digits, sig))
            comps.append((conn, sig, op, int(digits, 2)))
            if peek()[0] in ("and", "or"):
                conn = take(peek()[0])[0].upper()
                continue
            break
        take("p", ";")
        symbols.append((name, comps))
    take("p", "#")
    rows = []
    sym_names = {s[0] for s in symbols}
    while peek() == ("p", "("):
        take("p", "(")
        src = take("id")[1]
        label = None
        if peek() == ("p", ","):
            take("p", ",")
            label = take("id")[1]
            if label not in sym_names:
                raise DescError("undefined symbol " + label)
        take("p", ")")
        take("p", ":")
        dst = take("id")[1]
        take("p", ";")
        rows.append((src, label, dst))
    take("eof")
    return {"signals": signals, "symbols": symbols, "rows": rows}


class Model:
    """The checker as the description means it."""

    def __init__(self, desc):
        self.signals = desc["signals"]
        self.sig_order = sorted(self.signals)
        self.symbols = {}
        for name, comps in desc["symbols"]:
            # AND binds tighter than OR: split into OR-joined AND terms.
            terms = [[]]
            for conn, sig, op, value in comps:
                if conn == "OR":
                    terms.append([])
                terms[-1].append((sig, op, value))
            self.symbols[name] = terms
        self.rows = list(desc["rows"])
        self.start = self.rows[0][0]
        self.by_state = {}
        for src, label, dst in self.rows:
            self.by_state.setdefault(src, []).append((label, dst))

    def holds(self, label, vals):
        if label is None:
            return True
        return any(all(compare(op, vals[sig], value) for sig, op, value in term)
                   for term in self.symbols[label])

    def step(self, state, vals):
        if state == SERR:
            return self.start
        for label, dst in self.by_state.get(state, []):
            if self.holds(label, vals):
                return dst
        return SERR

    def random_vals(self, rng):
        return {s: rng.randrange(1 << w) for s, w in self.signals.items()}

    def satisfy(self, rng, labels):
        """Inputs under which all the symbols hold at once, or None if no
        such inputs were found. One OR-term of each symbol is picked and the
        comparisons of the picked terms are solved signal by signal."""
        vals = self.random_vals(rng)
        labels = [lab for lab in labels if lab is not None]
        if not labels:
            return vals
        for _ in range(8):
            comps = [c for lab in labels for c in rng.choice(self.symbols[lab])]
            choice = {}
            for sig in {c[0] for c in comps}:
                allowed = [v for v in range(1 << self.signals[sig])
                           if all(compare(op, v, value) for s, op, value in comps if s == sig)]
                if not allowed:
                    break
                choice[sig] = rng.choice(allowed)
            else:
                vals.update(choice)
                return vals
        return None

    def satisfy_none(self, rng, labels):
        """Inputs under which none of the symbols holds, found by a short
        random local search, or None."""
        if None in labels:
            return None
        for _ in range(4):
            vals = self.random_vals(rng)
            score = sum(self.holds(lab, vals) for lab in labels)
            for _ in range(30):
                if score == 0:
                    return vals
                sig = rng.choice(self.sig_order)
                old = vals[sig]
                vals[sig] = rng.randrange(1 << self.signals[sig])
                new = sum(self.holds(lab, vals) for lab in labels)
                if new <= score:
                    score = new
                else:
                    vals[sig] = old
            if score == 0:
                return vals
        return None

    def stimulus(self, rng, cycles):
        """Per cycle: (reset, input values, expected ERROR). The first
        RESET_CYCLES cycles hold reset; now and then reset comes again."""
        stim = []
        state = self.start
        again = set()
        if rng.random() < 0.3:
            at = rng.randrange(RESET_CYCLES + 1, max(RESET_CYCLES + 2, cycles))
            again = set(range(at, at + rng.randint(1, 2)))
        for cyc in range(cycles):
            reset = cyc < RESET_CYCLES or cyc in again
            vals = None
            rows = self.by_state.get(state, [])
            r = rng.random()
            if not reset and state != SERR and rows and r < 0.55:
                vals = self.satisfy(rng, [rng.choice(rows)[0]])
            elif not reset and state != SERR and rows and r < 0.8:
                # Two rows with different targets at once: only the order
                # of the rows tells which one wins.
                a, b = rng.choice(rows), rng.choice(rows)
                if a[1] != b[1]:
                    vals = self.satisfy(rng, [a[0], b[0]])
                if vals is None:
                    vals = self.satisfy(rng, [a[0]])
            elif not reset and state != SERR and r < 0.92:
                vals = self.satisfy_none(rng, [lab for lab, _ in rows])
            if vals is None:
                vals = self.random_vals(rng)
            state = self.start if reset else self.step(state, vals)
            stim.append((reset, vals, state))
        return stim

    def trace(self, stim):
        """ERROR per cycle for a fixed stimulus (states already recorded in
        the stimulus are ignored: this recomputes them)."""
        out = []
        state = self.start
        for reset, vals, _ in stim:
            state = self.start if reset else self.step(state, vals)
            out.append("1" if state == SERR else "0")
        return out


# ---------------------------------------------------------------------------
# Testbench
# ---------------------------------------------------------------------------

def testbench(model, stim):
    """VHDL that drives the stimulus and prints ERROR after every rising
    edge. Written in VHDL-93 so that both GHDL modes take it."""
    sigs = model.sig_order
    total = sum(model.signals[s] for s in sigs)
    lines = [
        "library ieee;",
        "use ieee.std_logic_1164.all;",
        "use std.textio.all;",
        "",
        "entity tb is",
        "end entity tb;",
        "",
        "architecture sim of tb is",
        "  signal tb_clk : std_logic := '0';",
        "  signal tb_rst : std_logic := '1';",
        "  signal tb_err : std_logic;",
    ]
    for s in sigs:
        w = model.signals[s]
        if w == 1:
            lines.append("  signal %s : std_logic := '0';" % s)
        else:
            lines.append("  signal %s : std_logic_vector(%d downto 0) := (others => '0');" % (s, w - 1))
    # One row per cycle: the inputs, most significant bit first, then reset.
    lines.append("  constant NCYC : integer := %d;" % len(stim))
    lines.append("  type stim_t is array (0 to NCYC - 1) of std_logic_vector(0 to %d);" % total)
    rows = []
    for reset, vals, _ in stim:
        bits = "".join(to_bits(vals[s], model.signals[s]) for s in sigs)
        rows.append('    "%s%s"' % (bits, "1" if reset else "0"))
    lines.append("  constant STIM : stim_t := (")
    lines.append(",\n".join(rows))
    lines.append("  );")
    lines.append("begin")
    ports = ["CLK => tb_clk", "RESET => tb_rst"] + ["%s => %s" % (s, s) for s in sigs] + ["ERROR => tb_err"]
    lines.append("  dut : entity work.guard port map (%s);" % ", ".join(ports))
    lines.append("  drive : process")
    lines.append("    variable l : line;")
    lines.append("  begin")
    lines.append("    for i in 0 to NCYC - 1 loop")
    # Inputs change with the falling edge and are stable 5 ns before the
    # rising edge that samples them.
    lines.append("      tb_rst <= STIM(i)(%d);" % total)
    pos = 0
    for s in sigs:
        w = model.signals[s]
        if w == 1:
            lines.append("      %s <= STIM(i)(%d);" % (s, pos))
        else:
            lines.append("      %s <= STIM(i)(%d to %d);" % (s, pos, pos + w - 1))
        pos += w
    lines += [
        "      wait for 5 ns;",
        "      tb_clk <= '1';",
        "      wait for 2 ns;",
        "      write(l, string'(\"E \"));",
        "      write(l, i);",
        "      write(l, string'(\" \"));",
        "      write(l, std_logic'image(tb_err));",
        "      writeline(output, l);",
        "      wait for 3 ns;",
        "      tb_clk <= '0';",
        "    end loop;",
        "    wait;",
        "  end process drive;",
        "end architecture sim;",
        "",
    ]
    return "\n".join(lines)


def verilog_testbench(model, stim):
    """The same stimulus and the same trace lines for the Verilog checker,
    in Verilog-2005 for Icarus. Internal names are lower case, so they
    cannot meet the upper-case names of the description."""
    sigs = model.sig_order
    total = sum(model.signals[s] for s in sigs)
    lines = ["`timescale 1ns/1ns", "module tb;", "  reg tb_clk = 1'b0;", "  reg tb_rst = 1'b1;",
             "  wire tb_err;"]
    for s in sigs:
        w = model.signals[s]
        lines.append("  reg %s%s = 0;" % ("[%d:0] " % (w - 1) if w > 1 else "", s))
    lines.append("  reg [%d:0] stim [0:%d];" % (total, len(stim) - 1))
    lines.append("  integer i;")
    ports = [".CLK(tb_clk)", ".RESET(tb_rst)"] + [".%s(%s)" % (s, s) for s in sigs] + [".ERROR(tb_err)"]
    lines.append("  GUARD dut (%s);" % ", ".join(ports))
    lines.append("  initial begin")
    for i, (reset, vals, _) in enumerate(stim):
        bits = "".join(to_bits(vals[s], model.signals[s]) for s in sigs)
        lines.append("    stim[%d] = %d'b%s%s;" % (i, total + 1, bits, "1" if reset else "0"))
    # The timing of the VHDL testbench: inputs stable 5 ns before the edge.
    lines += [
        "    for (i = 0; i < %d; i = i + 1) begin" % len(stim),
        "      {%s} = stim[i];" % ", ".join(sigs + ["tb_rst"]),
        "      #5 tb_clk = 1'b1;",
        "      #2 $display(\"E %0d '%b'\", i, tb_err);",
        "      #3 tb_clk = 1'b0;",
        "    end",
        "    $finish;",
        "  end",
        "endmodule",
        "",
    ]
    return "\n".join(lines)


def read_trace(stdout, cycles):
    trace = [None] * cycles
    for line in stdout.splitlines():
        m = re.match(r"^E (\d+) '(.)'\s*$", line.strip())
        if m and int(m.group(1)) < cycles:
            trace[int(m.group(1))] = m.group(2)
    return trace


# ---------------------------------------------------------------------------
# Mutation: swap two rows of one state in the written checker
# ---------------------------------------------------------------------------

def swapped_rows(rows, a, b):
    rows = list(rows)
    rows[a], rows[b] = rows[b], rows[a]
    return rows


def pick_mutation(desc, stim):
    """Two rows (indices into the row list) of one state whose swap changes
    the ERROR trace under this stimulus, or None."""
    base = Model(desc).trace(stim)
    rows = desc["rows"]
    for a in range(len(rows)):
        for b in range(a + 1, len(rows)):
            if rows[a][0] != rows[b][0] or rows[a][1:] == rows[b][1:]:
                continue
            mutated = dict(desc, rows=swapped_rows(rows, a, b))
            if Model(mutated).trace(stim) != base:
                return a, b
    return None


def mutate_vhdl(vhd, state, i, j):
    """Swap the i-th and j-th branches of the if/elsif chain in the case arm
    of the state. Returns the new text, or None when the arm is not found or
    too short."""
    lines = vhd.split("\n")
    arm = None
    for k, line in enumerate(lines):
        if re.match(r"^\s*when\s+%s\s*=>\s*$" % re.escape(state), line.rstrip("\r"), re.I):
            arm = k
            break
    if arm is None:
        return None
    branches = []  # (condition line index, target line index)
    k = arm + 1
    while k + 1 < len(lines):
        if re.match(r"^\s*(if|elsif)\s*\(.*\)\s*then\s*$", lines[k].rstrip("\r"), re.I):
            branches.append((k, k + 1))
            k += 2
            continue
        break
    if max(i, j) >= len(branches):
        return None
    cond = re.compile(r"^(\s*(?:if|elsif)\s*)(\(.*\))(\s*then\s*)$", re.I)
    ci, ti = branches[i]
    cj, tj = branches[j]
    mi, mj = cond.match(lines[ci]), cond.match(lines[cj])
    lines[ci] = mi.group(1) + mj.group(2) + mi.group(3)
    lines[cj] = mj.group(1) + mi.group(2) + mj.group(3)
    lines[ti], lines[tj] = lines[tj], lines[ti]
    return "\n".join(lines)


# ---------------------------------------------------------------------------
# One seed
# ---------------------------------------------------------------------------

class SeedResult:
    def __init__(self, seed):
        self.seed = seed
        self.ok = False
        self.skipped = False
        self.report = []


def run(cmd, cwd):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=STEP_TIMEOUT, universal_newlines=True, errors="replace")


def show_text(text):
    out = []
    for line in text.split("\n"):
        out.append("  | " + line.replace("\r", "<CR>").replace("\t", "<TAB>"))
    return "\n".join(out)


def describe_cycle(model, stim, cyc):
    reset, vals, state = stim[cyc]
    before = model.start if cyc == 0 else stim[cyc - 1][2]
    ins = ", ".join("%s=%s" % (s, to_bits(vals[s], model.signals[s])) for s in model.sig_order)
    return "state before edge %s, reset %d, inputs %s, model state after %s" % (
        before, int(reset), ins, state)


def run_seed(seed, args):
    res = SeedResult(seed)
    rng = random.Random(seed)
    desc = generate(rng)
    text = render(desc, rng)

    def fail(msg):
        res.report.append("FAIL seed %d: %s" % (seed, msg))
        res.report.append("description (seed %d):" % seed)
        res.report.append(show_text(text))
        res.report.append("replay: python3 %s --guardgen %s --seeds %d:%d%s" % (
            sys.argv[0], args.guardgen, seed, seed + 1, " --mutate" if args.mutate else ""))
        return res

    # The model reads the text; it must understand what the generator meant.
    try:
        parsed = parse_description(text)
    except DescError as e:
        return fail("test generator wrote a description its own reader rejects: %s" % e)
    if parsed != desc:
        return fail("test generator and reader disagree on the description")
    model = Model(parsed)
    stim = model.stimulus(rng, args.cycles)
    expected = ["1" if s == SERR else "0" for _, _, s in stim]

    if args.keep:
        work = os.path.join(args.keep, "seed_%d" % seed)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    else:
        work = tempfile.mkdtemp(prefix="guardgen_sim_%d_" % seed)
    try:
        name = "fsm%d" % seed
        with open(os.path.join(work, name + ".txt"), "w", newline="") as f:
            f.write(text)
        # Relative and absolute paths alike must put the checker beside the
        # description.
        arg = name + ".txt" if seed % 2 else os.path.join(work, name + ".txt")
        p = run([args.guardgen, "--verilog", arg], work)
        if p.returncode != 0:
            return fail("guardgen exited %d:\n%s" % (p.returncode, p.stdout))
        vhd_path = os.path.join(work, name + ".vhd")
        if not os.path.exists(vhd_path):
            return fail("guardgen wrote no %s.vhd" % name)

        mutation = None
        if args.mutate:
            pick = pick_mutation(desc, stim)
            if pick is None:
                res.skipped = True
                res.report.append("SKIP seed %d: no swap of two rows changes ERROR under this stimulus" % seed)
                return res
            a, b = pick
            state = desc["rows"][a][0]
            i = sum(1 for r in desc["rows"][:a] if r[0] == state)
            j = sum(1 for r in desc["rows"][:b] if r[0] == state)
            with open(vhd_path) as f:
                vhd = f.read()
            mutated = mutate_vhdl(vhd, state, i, j)
            if mutated is None:
                return fail("could not find branches %d and %d of state %s in the checker" % (i, j, state))
            with open(vhd_path, "w") as f:
                f.write(mutated)
            mutation = (state, i, j, Model(dict(desc, rows=swapped_rows(desc["rows"], a, b))).trace(stim))
            res.report.append("seed %d: swapped branches %d and %d of state %s in the checker "
                              "(rows %d and %d of the description)" % (seed, i, j, state, a + 1, b + 1))

        with open(os.path.join(work, "tb.vhd"), "w") as f:
            f.write(testbench(model, stim))

        traces = {}
        for wdir, flags in GHDL_MODES:
            os.makedirs(os.path.join(work, wdir), exist_ok=True)
            wd = "--workdir=" + wdir
            steps = [
                ["ghdl", "-a"] + flags + [wd, name + ".vhd"],
                ["ghdl", "-e"] + flags + [wd, "guard"],
                ["ghdl", "-a"] + flags + [wd, "tb.vhd"],
                ["ghdl", "-r"] + flags + [wd, "tb", "--ieee-asserts=disable"],
            ]
            for cmd in steps:
                p = run(cmd, work)
                if p.returncode != 0:
                    return fail("`%s` failed (%d):\n%s" % (" ".join(cmd), p.returncode, p.stdout))
            traces[wdir] = read_trace(p.stdout, len(stim))

        # The Verilog checker in Icarus, on the same stimulus: it must follow
        # the model (it is never mutated).
        with open(os.path.join(work, "tb.v"), "w") as f:
            f.write(verilog_testbench(model, stim))
        for cmd in (["iverilog", "-g2005", "-o", "tb.vvp", name + ".v", "tb.v"], ["vvp", "-n", "tb.vvp"]):
            p = run(cmd, work)
            if p.returncode != 0:
                return fail("`%s` failed (%d):\n%s" % (" ".join(cmd), p.returncode, p.stdout))
        got = read_trace(p.stdout, len(stim))
        for cyc in range(RESET_CYCLES, len(stim)):
            if got[cyc] != expected[cyc]:
                return fail("ERROR of the Verilog checker differs from the model (Icarus) first at "
                            "cycle %d: expected %s, simulated %s; %s" % (
                                cyc, expected[cyc], got[cyc], describe_cycle(model, stim, cyc)))

        for wdir, flags in GHDL_MODES:
            got = traces[wdir]
            first = None
            for cyc in range(RESET_CYCLES, len(stim)):
                if got[cyc] != expected[cyc]:
                    first = cyc
                    break
            mode = " ".join(flags)
            if mutation is None:
                if first is not None:
                    return fail("ERROR differs from the model (GHDL %s) first at cycle %d: "
                                "expected %s, simulated %s; %s" % (
                                    mode, first, expected[first], got[first],
                                    describe_cycle(model, stim, first)))
            else:
                state, i, j, mut_trace = mutation
                if first is None:
                    return fail("swap of branches %d and %d of state %s not detected (GHDL %s)"
                                % (i, j, state, mode))
                if got[RESET_CYCLES:] != mut_trace[RESET_CYCLES:]:
                    return fail("mutated checker does not follow the mutated model (GHDL %s)" % mode)
                res.report.append("seed %d: detected at cycle %d (GHDL %s)" % (seed, first, mode))
        res.ok = True
        return res
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def seed_range(text):
    m = re.match(r"^(\d+):(\d+)$", text)
    if not m or int(m.group(1)) >= int(m.group(2)):
        raise argparse.ArgumentTypeError("seeds must be A:B with A < B")
    return range(int(m.group(1)), int(m.group(2)))


def main():
    ap = argparse.ArgumentParser(description="Simulate guardgen's checkers against a model.")
    ap.add_argument("--guardgen", required=True, help="path of the guardgen executable")
    ap.add_argument("--seeds", type=seed_range, default=range(0, 40), help="A:B, seeds A to B-1 (default 0:40)")
    ap.add_argument("--cycles", type=int, default=300, help="clock cycles per description (default 300)")
    ap.add_argument("--jobs", type=int, default=2, help="seeds run in parallel (default 2)")
    ap.add_argument("--keep", metavar="DIR", help="keep every seed's files in DIR/seed_N")
    ap.add_argument("--mutate", action="store_true",
                    help="swap two rows of one state in each checker and expect a mismatch")
    ap.add_argument("--min-caught", type=int, default=0, metavar="N",
                    help="with --mutate: fail unless at least N seeds were mutated and caught, "
                         "so that skipped seeds cannot leave nothing tested")
    args = ap.parse_args()
    args.guardgen = os.path.abspath(args.guardgen)
    if args.cycles <= RESET_CYCLES:
        ap.error("--cycles must be more than %d" % RESET_CYCLES)
    if not os.access(args.guardgen, os.X_OK):
        ap.error("no executable at " + args.guardgen)
    if shutil.which("ghdl") is None:
        ap.error("ghdl not found on PATH")
    if args.keep:
        args.keep = os.path.abspath(args.keep)
        os.makedirs(args.keep, exist_ok=True)

    started = time.time()
    passed = failed = skipped = 0

    def one(seed):
        try:
            return run_seed(seed, args)
        except Exception as e:  # a crash of the test itself still names its seed
            res = SeedResult(seed)
            res.report.append("FAIL seed %d: test error %s: %s" % (seed, type(e).__name__, e))
            return res

    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for res in pool.map(one, args.seeds):
            # Results come back in seed order, whatever order the jobs end in.
            for line in res.report:
                print(line)
            if res.skipped:
                skipped += 1
            elif res.ok:
                passed += 1
            else:
                failed += 1
            sys.stdout.flush()

    print("seeds %d:%d, %d cycles, %.1f s" % (args.seeds.start, args.seeds.stop, args.cycles,
                                               time.time() - started))
    if skipped:
        print("%d skipped" % skipped)
    print("%d passed, %d failed" % (passed, failed))
    if args.mutate and passed < args.min_caught:
        print("FAIL: only %d seeds mutated and caught, at least %d required" % (passed, args.min_caught))
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
