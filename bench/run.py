#!/usr/bin/python3
"""Times build/guardgen on generated descriptions of 10k, 100k and 1M rows.

Builds nothing: run it from anywhere after the release build. For each size
it generates the description with gen.py in a temporary directory, runs
guardgen RUNS times and an I/O floor (read the same input, write an output
of the same size) as often, alternately, and prints medians. A second
floor is the time any program needs to take as much fresh memory into use
as guardgen's peak, page by page. Peak memory
comes from /usr/bin/time (Debian package "time"), or, without it, from
wait4, which also counts the Python parent. The output of the 1M case is
compared with the checksum in expected_1M.sha256. Each option is timed on
the 1M case alternately with plain runs of its own, and compared with them.

Usage: bench/run.py [--guardgen PATH] [--runs N] [--keep DIR] [--no-hugepages]
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
EXPECTED = os.path.join(HERE, "expected_1M.sha256")

# name, states; every case has 10 rows per state, 1,000 input symbols and
# 64 signals, so only the transition section grows.
CASES = [("10k", 1000), ("100k", 10000), ("1M", 100000)]
ROWS_PER_STATE = 10
SYMBOLS = 1000
SIGNALS = 64
SEED = 1

# The same sizes read as KISS2 (--kiss2): machines of 10 rows per state,
# cubes from a pool of 1,000 over 12 input bits (as wide as the widest file
# of the MCNC suite), written by gen_kiss2.py.
KISS2_CASES = [("kiss2 10k", 1000), ("kiss2 100k", 10000), ("kiss2 1M", 100000)]
KISS2_INPUTS = 12

# Targets for the 1M case.
MAX_SECONDS = 0.4
MAX_SCALING = 1.3
MAX_BYTES_PER_ROW = 250
AIM_FLOOR_RATIO = 8.0
# --dot on the 1M case (analysis and picture included) against the plain run.
MAX_DOT_RATIO = 1.5

TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def run(argv):
    """Runs one process with its output discarded; returns its exit status
    and wall seconds."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    proc.wait()
    return proc.returncode, time.perf_counter() - start


def run_measured(argv, work, env=None, stderr=None):
    """Like run, and also returns the CPU seconds (user and system) and the
    peak resident memory in bytes. A child that Python starts itself
    inherits Python's own peak (Linux keeps it across exec), so the counts
    come from /usr/bin/time, whose child starts small. Without it, wait4
    gives an upper bound."""
    if TIME:
        report = os.path.join(work, "time.out")
        start = time.perf_counter()
        proc = subprocess.run([TIME, "-f", "%M %U %S", "-o", report] + argv, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
        wall = time.perf_counter() - start
        with open(report) as f:
            kb, user, system = f.read().split()[-3:]
        return proc.returncode, wall, float(user) + float(system), int(kb) * 1024
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def remove(path):
    if os.path.exists(path):
        os.unlink(path)


def time_guardgen(guardgen, desc, out, env=None, options=()):
    # A fresh file each time: truncating the previous output is not the
    # program's cost.
    remove(out)
    status, wall, cpu, rss = run_measured([guardgen] + list(options) + [desc], os.path.dirname(out), env)
    if status != 0 or not os.path.exists(out):
        sys.exit("run.py: %s failed on %s with status %d" % (guardgen, desc, status))
    return wall, cpu, rss


def time_floor(desc, size, out):
    """Reads the input in 64 KiB blocks and writes SIZE bytes in 1 MiB
    blocks, as guardgen does, with nothing computed in between."""
    remove(out)
    _, read_wall = run(["dd", "if=" + desc, "of=/dev/null", "bs=64K", "status=none"])
    _, write_wall = run(["dd", "if=/dev/zero", "of=" + out, "bs=1M", "count=%d" % size,
                            "iflag=count_bytes", "status=none"])
    remove(out)
    return read_wall + write_wall


# Touches every 4 KiB page of a fresh buffer of the given size.
TOUCH = """
import sys
n = int(sys.argv[1])
b = bytearray(n)
b[::4096] = b"\\1" * len(range(0, n, 4096))
"""


def time_touch(size):
    """Seconds to take SIZE bytes of fresh memory into use, page by page:
    what any program with that peak pays before it does any work. The
    start of the Python that does it is subtracted."""
    _, empty = run([sys.executable, "-c", TOUCH, "0"])
    _, full = run([sys.executable, "-c", TOUCH, str(size)])
    return max(0.0, full - empty)


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def measure(guardgen, work, name, states, runs, kiss2=False):
    stem = name.replace(" ", "_")
    desc = os.path.join(work, stem + (".kiss2" if kiss2 else ".txt"))
    out = os.path.join(work, stem + ".vhd")
    floor_out = os.path.join(work, stem + ".floor")
    options = ["--kiss2"] if kiss2 else []
    if kiss2:
        subprocess.run([sys.executable, os.path.join(HERE, "gen_kiss2.py"), "--states", str(states),
                        "--rows", str(ROWS_PER_STATE), "--cubes", str(SYMBOLS),
                        "--inputs", str(KISS2_INPUTS), "--seed", str(SEED), desc], check=True)
    else:
        subprocess.run([sys.executable, os.path.join(HERE, "gen.py"), "--states", str(states),
                        "--rows", str(ROWS_PER_STATE), "--symbols", str(SYMBOLS),
                        "--signals", str(SIGNALS), "--seed", str(SEED), desc], check=True)
    time_guardgen(guardgen, desc, out, options=options)  # warms the page cache
    size = os.path.getsize(out)
    walls, cpus, rsss, floors, touches = [], [], [], [], []
    for _ in range(runs):
        wall, cpu, rss = time_guardgen(guardgen, desc, out, options=options)
        walls.append(wall)
        cpus.append(cpu)
        rsss.append(rss)
        floors.append(time_floor(desc, size, floor_out))
        touches.append(time_touch(rss))
    rows = states * ROWS_PER_STATE
    return {
        "name": name, "rows": rows, "in_bytes": os.path.getsize(desc), "out_bytes": size,
        "wall": statistics.median(walls), "cpu": statistics.median(cpus), "rss": max(rsss),
        "floor": statistics.median(floors), "touch": statistics.median(touches),
        "desc": desc, "out": out,
    }


def measure_hugepages(guardgen, result, runs):
    """The 1M case again with glibc asked to back its heap with transparent
    huge pages: shows how much of the time is first touches of fresh 4 KiB
    pages, one per 32 list rows. Not a target; the program is unchanged."""
    env = dict(os.environ, GLIBC_TUNABLES="glibc.malloc.hugetlb=1")
    walls, cpus, rsss = [], [], []
    for _ in range(runs):
        wall, cpu, rss = time_guardgen(guardgen, result["desc"], result["out"], env)
        walls.append(wall)
        cpus.append(cpu)
        rsss.append(rss)
    return statistics.median(walls), statistics.median(cpus), max(rsss)


# Each option on the 1M case against the plain run: the file it adds
# (None: --lint writes nothing) and the most it may cost, as a multiple.
OPTION_CASES = [
    ("--lint", None, 3.0),
    ("--dot", ".dot", 1.5),
    ("--testbench", "_tb.vhd", 3.0),
    ("--verilog", ".v", 1.5),
]


def measure_option(guardgen, result, runs, option, suffix):
    """The 1M case with one option: medians of wall and CPU seconds, peak
    RSS, the size of the file the option adds, and the median wall seconds
    of plain runs taken alternately with it. The plain runs of the table
    alternate with the floors, whose writes and fresh memory slow them, so
    an option is compared with plain runs made as it is."""
    added = os.path.splitext(result["out"])[0] + suffix if suffix else None
    walls, cpus, rsss, plains = [], [], [], []
    for _ in range(runs):
        plains.append(time_guardgen(guardgen, result["desc"], result["out"])[0])
        remove(result["out"])
        if added:
            remove(added)
        # --lint exits 2 on findings, which the generated machines have.
        # The findings of --lint go to a file, as a user's would.
        with open(os.path.join(os.path.dirname(result["out"]), "stderr.out"), "w") as err:
            status, wall, cpu, rss = run_measured([guardgen, option, result["desc"]],
                                                  os.path.dirname(result["out"]), stderr=err)
        if status not in (0, 2) or (added and not os.path.exists(added)):
            sys.exit("run.py: %s failed on %s with status %d" % (option, result["desc"], status))
        walls.append(wall)
        cpus.append(cpu)
        rsss.append(rss)
    size = os.path.getsize(added) if added else 0
    if added:
        remove(added)
    return statistics.median(walls), statistics.median(cpus), max(rsss), size, statistics.median(plains)


def print_table(results):
    head = ("rows", "input MB", "output MB", "wall s", "cpu s", "peak RSS MB", "MB/s",
            "rows/s", "bytes/row", "floor s", "x floor", "mem s", "x (floor+mem)")
    lines = [head]
    for r in results:
        lines.append((
            "{:,}".format(r["rows"]),
            "%.1f" % (r["in_bytes"] / 1e6),
            "%.1f" % (r["out_bytes"] / 1e6),
            "%.3f" % r["wall"],
            "%.3f" % r["cpu"],
            "%.1f" % (r["rss"] / 1e6),
            "%.0f" % (r["in_bytes"] / 1e6 / r["wall"]),
            "{:,.0f}".format(r["rows"] / r["wall"]),
            "%.0f" % (r["rss"] / r["rows"]),
            "%.3f" % r["floor"],
            "%.1f" % (r["wall"] / r["floor"]),
            "%.3f" % r["touch"],
            "%.1f" % (r["wall"] / (r["floor"] + r["touch"])),
        ))
    widths = [max(len(line[i]) for line in lines) for i in range(len(head))]
    for n, line in enumerate(lines):
        print("| " + " | ".join(cell.rjust(w) for cell, w in zip(line, widths)) + " |")
        if n == 0:
            print("|" + "|".join("-" * (w + 1) + ":" for w in widths) + "|")


def check_sum(result):
    """Compares the 1M output, and its input, with the recorded checksums
    (sha256sum format). A changed input means gen.py changed, not guardgen."""
    actual = sha256(result["out"])
    expected = {}
    try:
        with open(EXPECTED) as f:
            for line in f:
                digest, name = line.split()
                expected[name] = digest
    except OSError:
        return actual, "no %s to compare with" % os.path.relpath(EXPECTED, ROOT)
    if sha256(result["desc"]) != expected.get("1M.txt"):
        return actual, "MISMATCH: the generated input differs from the recorded one"
    if actual != expected.get("1M.vhd"):
        return actual, "MISMATCH, expected " + str(expected.get("1M.vhd"))
    return actual, "match"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--guardgen", default=os.path.join(ROOT, "build", "guardgen"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--keep", metavar="DIR", help="generate into DIR and keep the files")
    ap.add_argument("--no-hugepages", action="store_true",
                    help="skip the extra 1M runs with the heap on huge pages")
    a = ap.parse_args()
    guardgen = os.path.abspath(a.guardgen)
    if not os.access(guardgen, os.X_OK):
        sys.exit("run.py: no executable %s; build guardgen first" % guardgen)

    work = a.keep or tempfile.mkdtemp(prefix="guardgen-bench-")
    os.makedirs(work, exist_ok=True)
    try:
        print("guardgen: %s" % guardgen)
        print("machine: %d cores, load average %s (at start)" % (os.cpu_count(), load()))
        results = [measure(guardgen, work, name, states, a.runs) for name, states in CASES]
        print("median of %d runs; floor = dd read of the input + dd write of the output size;"
              % a.runs)
        print("mem = taking fresh memory of guardgen's peak size into use, page by page")
        if not TIME:
            print("no /usr/bin/time: peak RSS includes the Python parent (upper bound)")
        print()
        print_table(results)
        print()
        small, big = results[-2], results[-1]
        scaling = (big["wall"] / big["rows"]) / (small["wall"] / small["rows"])
        actual, verdict = check_sum(big)
        cpu_scaling = (big["cpu"] / big["rows"]) / (small["cpu"] / small["rows"])
        print("scaling (time/row 1M over 100k): %.2f wall, %.2f cpu" % (scaling, cpu_scaling))
        print("1M output sha256 %s: %s" % (actual, verdict))
        if not a.no_hugepages:
            wall, cpu, rss = measure_hugepages(guardgen, big, a.runs)
            print("1M with GLIBC_TUNABLES=glibc.malloc.hugetlb=1 (information only): "
                  "wall %.3f s, cpu %.3f s, peak RSS %.1f MB" % (wall, cpu, rss / 1e6))
        option_targets = []
        for option, suffix, ratio in OPTION_CASES:
            o_wall, o_cpu, o_rss, o_size, plain = measure_option(guardgen, big, a.runs, option, suffix)
            print("1M with %-11s wall %.3f s (%.2fx the plain run beside it, %.3f s), cpu %.3f s, "
                  "peak RSS %.1f MB, added file %.1f MB" % (option, o_wall, o_wall / plain, plain, o_cpu,
                                                           o_rss / 1e6, o_size / 1e6))
            option_targets.append(("1M %s within %.1fx the plain run" % (option, ratio),
                                   o_wall <= ratio * plain))
        print("load average %s (at end)" % load())
        print()
        targets = [
            ("1M wall < %.1f s" % MAX_SECONDS, big["wall"] < MAX_SECONDS),
            ("scaling <= %.1fx" % MAX_SCALING, scaling <= MAX_SCALING),
            ("peak <= %d bytes/row" % MAX_BYTES_PER_ROW,
             big["rss"] / big["rows"] <= MAX_BYTES_PER_ROW),
            ("within %.0fx of the I/O floor (aim)" % AIM_FLOOR_RATIO,
             big["wall"] / big["floor"] <= AIM_FLOOR_RATIO),
            ("1M output unchanged", verdict == "match"),
        ] + option_targets
        for what, ok in targets:
            print("%-4s %s" % ("ok" if ok else "MISS", what))

        # The same targets for the KISS2 reader.
        print()
        print("KISS2 (--kiss2), %d input bits:" % KISS2_INPUTS)
        print()
        kresults = [measure(guardgen, work, name, states, a.runs, kiss2=True)
                    for name, states in KISS2_CASES]
        print_table(kresults)
        ksmall, kbig = kresults[-2], kresults[-1]
        kscaling = (kbig["wall"] / kbig["rows"]) / (ksmall["wall"] / ksmall["rows"])
        print("scaling (time/row 1M over 100k): %.2f wall" % kscaling)
        print("1M KISS2 over 1M description: %.2f wall, %.2f cpu"
              % (kbig["wall"] / big["wall"], kbig["cpu"] / big["cpu"]))
        print()
        ktargets = [
            ("KISS2 1M wall < %.1f s" % MAX_SECONDS, kbig["wall"] < MAX_SECONDS),
            ("KISS2 scaling <= %.1fx" % MAX_SCALING, kscaling <= MAX_SCALING),
            ("KISS2 peak <= %d bytes/row" % MAX_BYTES_PER_ROW,
             kbig["rss"] / kbig["rows"] <= MAX_BYTES_PER_ROW),
            ("KISS2 within %.0fx of the I/O floor (aim)" % AIM_FLOOR_RATIO,
             kbig["wall"] / kbig["floor"] <= AIM_FLOOR_RATIO),
        ]
        for what, ok in ktargets:
            print("%-4s %s" % ("ok" if ok else "MISS", what))
        targets += ktargets
        return 0 if all(ok for _, ok in targets) else 1
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
