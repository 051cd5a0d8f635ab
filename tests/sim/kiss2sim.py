#!/usr/bin/env python3
"""KISS2 simulation test for guardgen.

For one KISS2 file: run `guardgen --kiss2`, prove the checker with
ghdl_check.sh (analysis, elaboration, synthesis), then simulate a copy of it
that prints its present state after every clock, under a stimulus biased to
follow the machine's rows, and compare ERROR and the state cycle by cycle
with an interpreter of the KISS2 file written here. The interpreter shares
no code with guardgen: the first row of the present state (or of "*") whose
cube matches the inputs gives the next state, rows without a next state
are left out, no match is one error cycle and then the start state.

States are compared through a one-to-one map from the file's names to the
checker's, built as the run goes: the checker may rename states, but never
two into one.

Usage: kiss2sim.py --guardgen PATH [--cycles N] [--seed N] [--mutate] FILE.kiss2
--mutate changes the target of the start state's first row in the checker
and expects the test to notice.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import simtest  # noqa: E402  (GHDL testbench and trace helpers)

SERR = "Serr"
GHDL_FLAGS = ["--std=08", "-fsynopsys"]

# The one line added to the copy of the checker: the present state after
# every rising edge, printed at the falling edge that ends the cycle.
PROBE = ("state_probe : process (CLK) variable l : std.textio.line; begin "
         "if CLK'event and CLK = '0' then std.textio.write(l, string'(\"S \") & "
         "t_state'image(present_state)); std.textio.writeline(std.textio.output, l); "
         "end if; end process state_probe;")


class Machine:
    """The KISS2 file as this test reads it."""

    def __init__(self, text):
        self.width = None
        self.labels = None
        self.start = None
        self.rows = []  # (cube, present or "*", next or None)
        first_named = None
        for line in text.splitlines():
            fields = line.split("#", 1)[0].split()
            if not fields:
                continue
            if fields[0] in (".e", ".end", ".end_kiss"):
                break
            if fields[0] == ".i":
                self.width = int(fields[1])
            elif fields[0] == ".r":
                self.start = fields[1]
            elif fields[0] == ".ilb":
                self.labels = fields[1:]
            elif not fields[0].startswith("."):
                if self.width is None:
                    self.width = len(fields[0])
                if self.width == 0:
                    fields.insert(0, "")
                cube, present, nxt = fields[0], fields[1], fields[2]
                if first_named is None:
                    first_named = present if present != "*" else (nxt if nxt not in "*-" else None)
                self.rows.append((cube, present, None if nxt in ("*", "-") else nxt))
        if self.start is None:
            self.start = first_named
        # A bit no row fixes has no port; rows without a next state are left out.
        self.used = [k for k in range(self.width)
                     if any(c[k] != "-" for c, _, nxt in self.rows if nxt is not None)]

    def port(self, k):
        if self.labels and re.match(r"^[A-Za-z][A-Za-z0-9_]*$", self.labels[k]):
            return self.labels[k].upper()
        return "I%d" % k

    @staticmethod
    def matches(cube, bits):
        return all(c == "-" or int(c) == b for c, b in zip(cube, bits))

    def applicable(self, state):
        return [r for r in self.rows if r[1] in (state, "*")]

    def step(self, state, bits):
        if state == SERR:
            return self.start
        for cube, _, nxt in self.applicable(state):
            if nxt is not None and self.matches(cube, bits):
                return nxt
        return SERR

    def satisfy(self, rng, cubes):
        """Inputs that match every cube, or None when two of them disagree."""
        bits = [rng.randrange(2) for _ in range(self.width)]
        fixed = {}
        for cube in cubes:
            for k, c in enumerate(cube):
                if c != "-":
                    if fixed.get(k, c) != c:
                        return None
                    fixed[k] = c
        for k, c in fixed.items():
            bits[k] = int(c)
        return bits

    def stimulus(self, rng, cycles):
        """Per cycle: (reset, inputs, state after the edge). Most cycles follow
        a row of the present state, some make two rows compete, the rest
        are random; reset comes back now and then."""
        stim = []
        state = self.start
        visits = {}

        # Rows towards states seen less often are taken more often, so that
        # a run gets past the rows that lead back to the start.
        def pick(rows):
            weights = [1.0 / (1 + visits.get(nxt or SERR, 0)) ** 2 for _, _, nxt in rows]
            return rng.choices(rows, weights)[0][0]

        for cyc in range(cycles):
            reset = cyc < simtest.RESET_CYCLES or rng.random() < 0.01
            rows = self.applicable(state) if state != SERR else []
            bits = None
            r = rng.random()
            if rows and r < 0.6:
                bits = self.satisfy(rng, [pick(rows)])
            elif rows and r < 0.85:
                bits = self.satisfy(rng, [pick(rows), rng.choice(rows)[0]])
            if bits is None:
                bits = [rng.randrange(2) for _ in range(self.width)]
            state = self.start if reset else self.step(state, bits)
            visits[state] = visits.get(state, 0) + 1
            stim.append((reset, bits, state))
        return stim


class Ports:
    """What simtest.testbench needs to know of the checker's ports."""

    def __init__(self, machine):
        self.sig_order = [machine.port(k) for k in machine.used]
        self.signals = {name: 1 for name in self.sig_order}


def run(cmd, cwd):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True, errors="replace", timeout=600)


def mutate(vhd, start_vhdl):
    """Sends the first row of the start state to another state."""
    lines = vhd.split("\n")
    names = re.search(r"type t_state is \((.*)\);", vhd).group(1).split(",")
    for i, line in enumerate(lines):
        if line.strip().lower() == "when %s =>" % start_vhdl.lower():
            m = re.match(r"^(\s*next_state <= )(\w+);$", lines[i + 2])
            other = [n for n in names if n.lower() != m.group(2).lower() and n != "Serr"]
            lines[i + 2] = m.group(1) + (other[0] if other else "Serr") + ";"
            return "\n".join(lines)
    raise RuntimeError("no arm for the start state")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--cycles", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--mutate", action="store_true")
    ap.add_argument("kiss2")
    a = ap.parse_args()
    with open(a.kiss2) as f:
        machine = Machine(f.read())
    stim = machine.stimulus(random.Random(a.seed), a.cycles)
    name = os.path.splitext(os.path.basename(a.kiss2))[0]
    work = tempfile.mkdtemp(prefix="guardgen_kiss2_")
    try:
        shutil.copy(a.kiss2, work)
        p = run([os.path.abspath(a.guardgen), "--kiss2", name + ".kiss2"], work)
        expected_console = "Soubor %s.kiss2 otevren...\nVstupni soubor zpracovan...\nSoubor %s.kiss2 zavren..." % (name, name)
        if p.returncode != 0 or p.stdout != expected_console:
            sys.exit("FAIL: guardgen --kiss2 exited %d:\n%s" % (p.returncode, p.stdout))
        p = run(["bash", os.path.join(os.path.dirname(HERE), "ghdl_check.sh"), name + ".vhd"], work)
        if p.returncode != 0:
            sys.exit("FAIL: ghdl_check.sh:\n" + p.stdout)

        with open(os.path.join(work, name + ".vhd")) as f:
            vhd = f.read()
        end = "end architecture FL_GUARD;"
        if vhd.count(end) != 1:
            sys.exit("FAIL: the checker has no single '%s'" % end)
        probed = vhd.replace(end, PROBE + "\n" + end)
        if a.mutate:
            probed = mutate(probed, re.search(r"present_state <= (\w+);", vhd).group(1))
        with open(os.path.join(work, "probed.vhd"), "w") as f:
            f.write(probed)
        ports = Ports(machine)
        tb_stim = [(reset, {ports.sig_order[i]: bits[k] for i, k in enumerate(machine.used)}, state)
                   for reset, bits, state in stim]
        with open(os.path.join(work, "tb.vhd"), "w") as f:
            f.write(simtest.testbench(ports, tb_stim))
        for cmd in (["ghdl", "-a"] + GHDL_FLAGS + ["probed.vhd", "tb.vhd"],
                    ["ghdl", "-e"] + GHDL_FLAGS + ["tb"],
                    ["ghdl", "-r"] + GHDL_FLAGS + ["tb", "--ieee-asserts=disable"]):
            p = run(cmd, work)
            if p.returncode != 0:
                sys.exit("FAIL: `%s`:\n%s" % (" ".join(cmd), p.stdout))
        errors = simtest.read_trace(p.stdout, len(stim))
        states = [m.group(1) for m in re.finditer(r"^S (\S+)\s*$", p.stdout, re.M)]
        if len(states) != len(stim):
            sys.exit("FAIL: %d state lines for %d cycles" % (len(states), len(stim)))

        mismatch = None
        to_vhdl, from_vhdl = {SERR: "serr"}, {"serr": SERR}
        for cyc in range(simtest.RESET_CYCLES, len(stim)):
            want = stim[cyc][2]
            got = states[cyc].lower()
            if errors[cyc] != ("1" if want == SERR else "0"):
                mismatch = "ERROR is %s, expected %s" % (errors[cyc], int(want == SERR))
            elif to_vhdl.setdefault(want, got) != got or from_vhdl.setdefault(got, want) != want:
                mismatch = "the checker is in %s, the file's machine in %s (earlier %s was %s)" % (
                    got, want, want, to_vhdl[want])
            if mismatch:
                before = stim[cyc - 1][2]
                bits = "".join(map(str, stim[cyc][1]))
                mismatch = "cycle %d (state before %s, inputs %s, reset %d): %s" % (
                    cyc, before, bits, stim[cyc][0], mismatch)
                break
        visited = len({s for _, _, s in stim} - {SERR})
        named = {r[1] for r in machine.rows} | {r[2] for r in machine.rows} | {machine.start}
        named -= {"*", None}
        if a.mutate:
            if not mismatch:
                sys.exit("FAIL: the changed checker was not noticed")
            print("PASS: the changed checker was noticed at %s" % mismatch)
            return 0
        if mismatch:
            sys.exit("FAIL %s: %s" % (name, mismatch))
        print("PASS %s: %d cycles, %d of %d states visited, %d error cycles" % (
            name, len(stim), visited, len(named), sum(1 for _, _, s in stim if s == SERR)))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
