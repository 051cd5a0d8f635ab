#!/usr/bin/env python3
"""Formal proof that the Verilog checker is the VHDL checker's machine.

For every seed: a random description (a few to a few hundred rows, signals
up to 64 bits wide); guardgen writes both checkers; GHDL synthesises the
VHDL one to Verilog; Yosys builds a miter of the two and proves by temporal
induction that after a reset in the first step they give the same ERROR and
the same state forever. Each pair is proven twice: with async2sync, and with
clk2fflogic, which alone notices a wrong clock edge.

Both designs expose their present state. GHDL encodes an enumeration by
position, and the Verilog checker numbers its states in the same order, so
the state codes of both mean the same description state, and "same ERROR
and same state" closes by induction of length 1.

Then the proof must fail on changed Verilog checkers (two rows of a state
swapped, a comparison operator changed, the wrong reset state, the falling
clock edge), and one counterexample is replayed in Icarus Verilog with both
netlists side by side.

GHDL 2.0's Verilog output has faults the test repairs or avoids, or the
proof would prove nothing: every `default:` arm of a case is dropped (taken
back from GHDL's raw netlist), constants wider than 32 bits are written as
quoted strings, which Verilog reads as ASCII (rewritten as binary), and
internal names are lower case without escapes (avoided: every name here is
letters and a number, which no Verilog keyword or GHDL net name is).

Usage: prove.py --guardgen PATH [--seeds A:B] [--jobs J] [--keep DIR]
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sim"))
import simtest  # noqa: E402

TIMEOUT = 600
MAX_STEPS = 12


def generate(rng, unlabeled=0.05):
    """A description in simtest's shape, larger and wider than simtest's."""
    widths = [rng.choice([1, 1, 2, 3, 5, 8, 16, 31, 32, 33, 48, 63, 64]) for _ in range(rng.randint(1, 5))]
    signals = {"SIG%d" % i: w for i, w in enumerate(widths)}
    names = list(signals)
    symbols = []
    for k in range(rng.randint(2, 16)):
        sigs = [rng.choice(names) for _ in range(rng.randint(1, 4))]
        symbols.append(("SYM%d" % k, simtest.random_comps(rng, signals, sigs)))
    used = {c[1] for _, comps in symbols for c in comps}
    signals = {s: w for s, w in signals.items() if s in used}

    size = rng.choice(["few", "few", "some", "some", "many"])
    nstates = {"few": rng.randint(1, 4), "some": rng.randint(4, 15), "many": rng.randint(15, 40)}[size]
    per_state = {"few": (1, 3), "some": (2, 6), "many": (2, 8)}[size]
    states = ["ST%d" % i for i in range(nstates)]
    targets = states + ["TGT%d" % i for i in range(rng.choice([0, 0, 1, 2]))]
    rows = []
    for st in states:
        for _ in range(rng.randint(*per_state)):
            label = None if rng.random() < unlabeled else rng.choice(symbols)[0]
            rows.append((st, label, rng.choice(targets)))
    if rng.random() < 0.5:
        first = rows[0]
        rest = rows[1:]
        rng.shuffle(rest)
        rows = [first] + rest
    return {"signals": signals, "symbols": symbols, "rows": rows}


def run(cmd, cwd, stdout=None):
    p = subprocess.run(cmd, cwd=cwd, stdout=stdout or subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=TIMEOUT, universal_newlines=True, errors="replace")
    return p.returncode, p.stdout if stdout is None else ""


class Failure(Exception):
    pass


def must(cmd, cwd, stdout=None):
    code, out = run(cmd, cwd, stdout)
    if code != 0:
        raise Failure("`%s` failed (%d):\n%s" % (" ".join(cmd), code, out[-3000:]))
    return out


# ---------------------------------------------------------------------------
# GHDL's netlist, repaired
# ---------------------------------------------------------------------------

def raw_default(raw, net):
    """The default of GHDL's pmux %NET, as Verilog: a constant, or the net
    that computes it."""
    at = raw.find("%%%s:$o{" % net)
    if at < 0 or "$pmux" not in raw[at:raw.find("\n", at)]:
        raise Failure("no pmux %%%s in GHDL's raw netlist" % net)
    m = re.compile(r"\.\$def\{p\d+\}: %(\d+):\$o\{n\d+w\d+\} := ([^\n]*)").search(raw, at)
    if not m:
        raise Failure("no default of pmux %%%s" % net)
    const = re.fullmatch(r"(\d+)'uh([0-9a-f]+),?\)*", m.group(2).strip())
    if const:
        return "%s'h%s" % const.groups()
    return "n%s_o" % m.group(1)


def repair_ghdl(text, raw):
    # Constants wider than 32 bits come as strings of digits.
    text = re.sub(r'"([01]+)"', lambda m: "%d'b%s" % (len(m.group(1)), m.group(1)), text)
    if '"' in text:
        raise Failure("a string GHDL wrote is left in its netlist")

    # Every case lost its default arm; GHDL's raw netlist still has it.
    def add_default(m):
        body = m.group(0)
        if "default:" in body:
            return body
        targets = set(re.findall(r":\s*n(\d+)_o <=", body))
        if len(targets) != 1:
            raise Failure("a case that assigns %d nets" % len(targets))
        net = targets.pop()
        return body.replace("endcase", "  default: n%s_o <= %s;\n    endcase" % (net, raw_default(raw, net)))
    return re.sub(r"case \(.*?endcase", add_default, text, flags=re.S)


def add_probe(text, module, state_decl, last_port):
    """Renames the module and adds an output probe_state with the present
    state; returns the text and the state's width."""
    m = re.search(r"^\s*%s\s*(?:\[(\d+):0\]\s*)?present_state;" % state_decl, text, re.M)
    if not m:
        raise Failure("no present_state in module " + module)
    width = int(m.group(1)) + 1 if m.group(1) else 1
    text, n = re.subn(r"^module GUARD\b", "module " + module, text, flags=re.M)
    rng = "[%d:0] " % (width - 1) if width > 1 else ""
    text, k = re.subn(last_port, lambda p: p.group(1) + ",\n    output %sprobe_state" % rng + p.group(2),
                      text, count=1)
    text, e = re.subn(r"^endmodule", "  assign probe_state = present_state;\nendmodule", text, flags=re.M)
    if (n, k, e) != (1, 1, 1):
        raise Failure("cannot add the probe to module " + module)
    return text, width


YOSYS = """read_verilog gold.v
read_verilog gate.v
proc -norom
check -assert
select -assert-none t:$dlatch t:$adlatch t:$dlatchsr t:$sr t:$mem* t:$memrd* t:$memwr* t:$meminit*
{clocking}
miter -equiv -flatten -make_outputs gold gate miter
hierarchy -top miter
sat -verify -tempinduct -prove trigger 0 -seq 1 -set-at 1 in_RESET 1 -maxsteps {steps} -dump_vcd {vcd} miter
"""


def prove(work, gate_text, clocking, vcd="cex.vcd"):
    """True when Yosys proves the miter, False on a counterexample."""
    with open(os.path.join(work, "gate.v"), "w") as f:
        f.write(gate_text)
    with open(os.path.join(work, "prove.ys"), "w") as f:
        f.write(YOSYS.format(clocking=clocking, steps=MAX_STEPS, vcd=vcd))
    code, out = run(["yosys", "-q", "-s", "prove.ys"], work)
    if code == 0:
        return True
    if "proof did fail" in out:
        return False
    raise Failure("yosys failed:\n" + out[-3000:])


# ---------------------------------------------------------------------------
# Changed Verilog checkers
# ---------------------------------------------------------------------------

def arm_branches(lines, state):
    """Line numbers of (condition, assignment) of each labelled branch in
    the case arm of the state."""
    start = lines.index("    %s:" % state) + 1
    out = []
    k = start
    while re.match(r"^        (if|else if) \(", lines[k]):
        out.append((k, k + 1))
        k += 2
    return out


def swap_rows(text, desc, rng):
    rows = desc["rows"]
    for a in rng.sample(range(len(rows)), len(rows)):
        st = rows[a][0]
        mine = [r for r in rows if r[0] == st]
        same = [i for i, r in enumerate(mine) if r[1:] != mine[0][1:]]
        if mine[0][1] is None or not same:
            continue
        lines = text.split("\n")
        branches = arm_branches(lines, st)
        j = same[0]
        if j >= len(branches):
            continue
        (c0, t0), (c1, t1) = branches[0], branches[j]
        sym0 = re.search(r"\((\w+)\)", lines[c0]).group(1)
        sym1 = re.search(r"\((\w+)\)", lines[c1]).group(1)
        lines[c0] = lines[c0].replace("(%s)" % sym0, "(%s)" % sym1)
        lines[c1] = lines[c1].replace("(%s)" % sym1, "(%s)" % sym0)
        lines[t0], lines[t1] = lines[t1], lines[t0]
        return "\n".join(lines), "rows 1 and %d of state %s swapped" % (j + 1, st)
    return None


def change_operator(text, desc, rng):
    used = {r[1] for r in desc["rows"] if r[1]}
    swap = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">"}
    lines = text.split("\n")
    for k, line in enumerate(lines):
        m = re.match(r"^wire (\w+) = ", line)
        if m and m.group(1) in used:
            op = re.search(r" (==|!=|<=|>=|<|>) ", line)
            lines[k] = line[:op.start(1)] + swap[op.group(1)] + line[op.end(1):]
            return "\n".join(lines), "%s of symbol %s made %s" % (op.group(1), m.group(1), swap[op.group(1)])
    return None


def wrong_reset(text, desc, rng):
    start = desc["rows"][0][0]
    others = sorted({r[2] for r in desc["rows"]} - {start})
    if not others:
        return None
    new = text.replace("present_state <= %s;" % start, "present_state <= %s;" % others[0], 1)
    return new, "reset into %s instead of %s" % (others[0], start)


def wrong_edge(text, desc, rng):
    return text.replace("posedge CLK", "negedge CLK"), "falling clock edge"


MUTATIONS = [swap_rows, change_operator, wrong_reset, wrong_edge]


# ---------------------------------------------------------------------------
# Replay of a counterexample in Icarus
# ---------------------------------------------------------------------------

def read_vcd(path):
    """Per step, the values of the miter's inputs and trigger."""
    names, steps = {}, []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if parts[:1] == ["$var"]:
                names[parts[3]] = parts[4].lstrip("\\")
            elif line.startswith("#"):
                steps.append(dict(steps[-1]) if steps else {})
            elif steps and line[:1] in "01b":
                if line[0] == "b":
                    value, ident = parts
                    steps[-1][names[ident]] = int(value[1:], 2)
                else:
                    steps[-1][names[line[1:].strip()]] = int(line[0])
    return steps


def replay(work, desc, steps):
    """Drives both netlists with the counterexample's inputs in Icarus and
    returns the first step whose outputs differ, or None."""
    sigs = sorted(desc["signals"])
    lines = ["module replay;", "  reg clk = 1'b0;", "  reg RESET;"]
    for s in sigs:
        w = desc["signals"][s]
        lines.append("  reg %s%s;" % ("[%d:0] " % (w - 1) if w > 1 else "", s))
    lines += ["  wire e_gold, e_gate;", "  wire [63:0] s_gold, s_gate;"]
    for m in ("gold", "gate"):
        ports = [".CLK(clk)", ".RESET(RESET)"] + [".%s(%s)" % (s, s) for s in sigs]
        ports += [".ERROR(e_%s)" % m, ".probe_state(s_%s)" % m]
        lines.append("  %s %s_i (%s);" % (m, m, ", ".join(ports)))
    lines.append("  initial begin")
    for n, step in enumerate(steps):
        lines.append("    RESET = %d;" % step.get("in_RESET", 0))
        for s in sigs:
            # Sat leaves out an input no output depends on.
            lines.append("    %s = %d'd%d;" % (s, desc["signals"][s], step.get("in_" + s, 0)))
        # The miter compares before the edge that ends the step.
        lines.append("    #1 $display(\"S %d %%b %%b %%0d %%0d\", e_gold, e_gate, s_gold, s_gate);" % (n + 1))
        lines.append("    #1 clk = 1'b1; #1 clk = 1'b0;")
    lines += ["  end", "endmodule", ""]
    with open(os.path.join(work, "replay.v"), "w") as f:
        f.write("\n".join(lines))
    must(["iverilog", "-g2005", "-o", "replay.vvp", "gold.v", "gate.v", "replay.v"], work)
    out = must(["vvp", "-n", "replay.vvp"], work)
    for line in out.splitlines():
        p = line.split()
        if p[:1] == ["S"] and int(p[1]) > 1 and (p[2] != p[3] or p[4] != p[5]):
            return int(p[1])
    return None


# ---------------------------------------------------------------------------
# One seed
# ---------------------------------------------------------------------------

def run_seed(seed, args):
    rng = random.Random(seed)
    mutate = seed % args.mutate_every == 0
    desc = generate(rng, unlabeled=0.0 if mutate else 0.05)
    text = simtest.render(desc, rng)
    report = []
    work = os.path.join(args.keep, "seed_%d" % seed) if args.keep else tempfile.mkdtemp(prefix="guardgen_prove_")
    os.makedirs(work, exist_ok=True)
    try:
        for kind in ("signals", "symbols"):
            for name in (desc[kind] if kind == "signals" else [s[0] for s in desc[kind]]):
                assert re.fullmatch(r"[A-Z]+\d+", name), name
        with open(os.path.join(work, "d.txt"), "w", newline="") as f:
            f.write(text)
        must([args.guardgen, "--verilog", "d.txt"], work)
        must(["ghdl", "-a", "--std=08", "-fsynopsys", "d.vhd"], work)
        ghdl_v = must(["ghdl", "--synth", "--std=08", "-fsynopsys", "--out=verilog", "guard"], work)
        ghdl_raw = must(["ghdl", "--synth", "--std=08", "-fsynopsys", "--out=raw", "guard"], work)
        gold, gold_bits = add_probe(repair_ghdl(ghdl_v, ghdl_raw), "gold", "wire", r"(output ERROR)(\);)")
        with open(os.path.join(work, "gold.v"), "w") as f:
            f.write(gold)
        with open(os.path.join(work, "d.v")) as f:
            verilog = f.read()
        gate, gate_bits = add_probe(verilog, "gate", "reg", r"(output wire ERROR)(\n\);)")
        if gold_bits != gate_bits:
            raise Failure("state codes of %d and %d bits" % (gold_bits, gate_bits))

        started = time.time()
        for clocking in ("async2sync", "clk2fflogic"):
            if not prove(work, gate, clocking):
                raise Failure("not proven equal (%s); counterexample in %s/cex.vcd" % (clocking, work))
        report.append("seed %d: %d rows, %d states, widths %s: proven equal in %.1f s" % (
            seed, len(desc["rows"]), len({r[0] for r in desc["rows"]}),
            sorted(set(desc["signals"].values())), time.time() - started))

        if mutate:
            replayed = False
            for mutation in MUTATIONS:
                changed = mutation(add_probe(verilog, "gate", "reg", r"(output wire ERROR)(\n\);)")[0], desc, rng)
                if changed is None:
                    continue
                changed_text, what = changed
                # Only clk2fflogic models the clock edge itself.
                clocking = "clk2fflogic" if mutation is wrong_edge else "async2sync"
                if prove(work, changed_text, clocking):
                    # A change may leave the machine the same (a swap of two
                    # rows that never hold together); the simulation of the
                    # model tells whether it should have been seen.
                    report.append("seed %d: %s: still equal" % (seed, what))
                    continue
                report.append("seed %d: %s: counterexample" % (seed, what))
                report.append("caught " + mutation.__name__)
                if not replayed and mutation is not wrong_edge:
                    steps = read_vcd(os.path.join(work, "cex.vcd"))
                    at = replay(work, desc, steps)
                    trigger = next((n + 1 for n, step in enumerate(steps) if n > 0 and step.get("trigger")), None)
                    if at is None or at != trigger:
                        raise Failure("the counterexample of '%s' (outputs differ at step %s) shows a "
                                      "difference in Icarus at step %s" % (what, trigger, at))
                    report.append("seed %d: replayed in Icarus: outputs differ at step %d of %d" % (
                        seed, at, len(steps)))
                    replayed = True
                    report.append("caught replay")
        return True, report
    except (Failure, subprocess.TimeoutExpired, OSError, ValueError, KeyError) as e:
        report.append("FAIL seed %d: %s: %s" % (seed, type(e).__name__, e))
        report.append(simtest.show_text(text))
        return False, report
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--guardgen", required=True)
    ap.add_argument("--seeds", type=simtest.seed_range, default=range(0, 30))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--keep", metavar="DIR")
    ap.add_argument("--mutate-every", type=int, default=5, help="change the checker of every N-th seed")
    args = ap.parse_args()
    args.guardgen = os.path.abspath(args.guardgen)
    if args.keep:
        args.keep = os.path.abspath(args.keep)
    started = time.time()
    failed = 0
    caught = set()
    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for ok, report in pool.map(lambda s: run_seed(s, args), args.seeds):
            caught |= {line.split()[1] for line in report if line.startswith("caught ")}
            print("\n".join(line for line in report if not line.startswith("caught ")))
            sys.stdout.flush()
            failed += not ok
    # A change may leave a machine the same, but every kind of change must
    # have been caught somewhere, and one counterexample replayed.
    if any(s % args.mutate_every == 0 for s in args.seeds):
        for kind in [m.__name__ for m in MUTATIONS] + ["replay"]:
            if kind not in caught:
                print("FAIL: no counterexample for any %s change" % kind)
                failed += 1
    print("seeds %d:%d, %.1f s: %d passed, %d failed" % (
        args.seeds.start, args.seeds.stop, time.time() - started, len(args.seeds) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
