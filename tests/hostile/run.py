#!/usr/bin/env python3
"""Hostile-input tests of the guardgen executable.

Every case runs guardgen in a fresh temporary directory and checks:
  - the process ends by itself (no signal) within the time limit;
  - the exit status and, for a failed run, exactly one located error line
    on standard error, with the expected message where the case names one;
  - a run with status 0 wrote a complete checker and reported nothing on
    standard error; a failed run left no output file;
  - nothing else in the directory changed: the description and every other
    file keep their bytes (checksums before and after).

Usage: run.py --guardgen PATH [--timeout SECONDS] [--filter TEXT] [--jobs N]
Prints one line per failure and a closing line "N passed, N failed".
"""

import argparse
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

ERROR_LINE = re.compile(rb"^(LexError|SyntError)\[line=(-?\d+), column=(-?\d+)\]: (.*)\n\Z", re.S)
CHECKER_HEAD = b"--=================GENERATOR CHECKER in VHDL============\n"
CHECKER_TAIL = b"\nend architecture FL_GUARD;"

# A description that uses every construct of the language: comments, a lone
# "/", every operator, both connectives mixed, one-digit and vector
# constants, labelled and unlabelled rows, "$" at the end.
FULL = (
    b"// every construct\n"
    b"@ /x\n"
    b"REQ = R == 1;\n"
    b"ack = a <> 0 and R == 0;\n"
    b"Big = D >= 0101 OR D <= 0010 AND E < 11 or E > 00;\n"
    b"#\n"
    b"(IDLE, req) : BUSY;  // go\n"
    b"(BUSY, ACK) : IDLE;\n"
    b"(BUSY, BIG) : DONE;\n"
    b"(BUSY) : BUSY;\n"
    b"$\n"
)

SMALL = b"@\nA = X == 1;\n#\n(S, A) : T;\n(T) : S;\n"


class Case:
    """One run of guardgen and what it must do."""

    def __init__(self, group, name, files, arg="in.txt", status=0, message=None,
                 line=None, removed=(), outfile=None, extra_args=None, usage=False, stdout=None,
                 same_as=None, inspect=None):
        self.group = group
        self.name = name
        self.files = files          # name -> bytes | ("dir",) | ("symlink", target) | ("hardlink", name)
        self.arg = arg              # the input path as given on the command line
        self.status = status        # 0, 1, or "either"
        self.message = message      # expected message text (bytes) after "]: "
        self.line = line            # expected line of the error report
        self.removed = set(removed) # entries a failed run may remove
        self.outfile = outfile if outfile is not None else output_path(arg)
        self.extra_args = extra_args
        self.usage = usage
        self.stdout = stdout        # exact standard output, where the case fixes it
        self.same_as = same_as      # a description that must give the very same checker
        self.inspect = inspect      # checker text -> list of problems, for a success


def output_path(path):
    """The checker's path: the last extension replaced by .vhd."""
    dot = path.rfind(".")
    sep = max(path.rfind("/"), path.rfind("\\"))
    if dot >= 0 and dot > sep:
        path = path[:dot]
    return path + ".vhd"


def snapshot(directory):
    """Every entry under the directory with its kind and content digest."""
    state = {}
    for base, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(base, name)
            rel = os.path.relpath(path, directory)
            st = os.lstat(path)
            if os.path.islink(path):
                state[rel] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                state[rel] = ("dir",)
            else:
                with open(path, "rb") as f:
                    state[rel] = ("file", st.st_size, hashlib.sha256(f.read()).hexdigest())
    return state


def setup(directory, files):
    for name, content in files.items():
        path = os.path.join(directory, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, (bytes, bytearray)):
            with open(path, "wb") as f:
                f.write(content)
        elif content[0] == "dir":
            os.makedirs(path, exist_ok=True)
        elif content[0] == "symlink":
            os.symlink(content[1], path)
        elif content[0] == "hardlink":
            os.link(os.path.join(directory, content[1]), path)


def check(case, guardgen, timeout):
    """Runs one case; returns its problems (none when it passed) and its time."""
    started = time.monotonic()
    problems = run_case(case, guardgen, timeout)
    return problems, time.monotonic() - started


def run_case(case, guardgen, timeout):
    problems = []
    with tempfile.TemporaryDirectory(prefix="guardgen-hostile-") as tmp:
        setup(tmp, case.files)
        before = snapshot(tmp)
        args = [guardgen] + (case.extra_args if case.extra_args is not None else [case.arg])
        try:
            proc = subprocess.run(args, cwd=tmp, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            return ["no answer within %d s (hang)" % timeout]
        after = snapshot(tmp)

        rc, out, err = proc.returncode, proc.stdout, proc.stderr
        if rc < 0:
            return ["killed by signal %d; stderr: %r" % (-rc, err[-300:])]
        expected = (0, 1) if case.status == "either" else (case.status,)
        if rc not in expected:
            problems.append("exit status %d, expected %s; stderr: %r" % (rc, case.status, err[-300:]))

        if case.usage:
            if err or not out.startswith(b"Pouziti :\n"):
                problems.append("no usage text: %r %r" % (out[:100], err[:100]))
            if after != before:
                problems.append("the directory changed")
            return problems

        arg = case.arg.encode()
        opened = b"Soubor " + arg + b" otevren...\n"
        closed = b"\nSoubor " + arg + b" zavren..."
        out_rel = os.path.normpath(case.outfile)

        if rc == 0:
            if err:
                problems.append("status 0 with stderr %r" % err[:200])
            if out not in (opened + b"Vstupni soubor zpracovan..." + closed, opened + closed):
                problems.append("unexpected transcript %r" % out[:300])
            checker = os.path.join(tmp, out_rel)
            if not os.path.isfile(checker):
                problems.append("status 0 but no checker at %s" % case.outfile)
            else:
                with open(checker, "rb") as f:
                    text = f.read()
                if not (text.startswith(CHECKER_HEAD) and text.endswith(CHECKER_TAIL)):
                    problems.append("checker is incomplete (%d bytes)" % len(text))
                elif any(b > 0x7E or (b < 0x20 and b != 0x0A) for b in text):
                    problems.append("checker holds a byte that is not printable ASCII")
                elif case.inspect is not None:
                    problems.extend(case.inspect(text))
            changed = {k for k in set(before) | set(after) if before.get(k) != after.get(k)}
            if changed - {out_rel}:
                problems.append("files changed besides the checker: %s" % sorted(changed - {out_rel}))
        else:
            m = ERROR_LINE.match(err)
            if rc == 1 and not m and not out.startswith(b"Nelze otevrit vstupni soubor "):
                problems.append("not one located error line on stderr: %r" % err[:300])
            # The lexical format puts one blank after the message.
            text = m.group(4)[:-1] if m and m.group(1) == b"LexError" else m.group(4) if m else None
            if m and case.message is not None and text != case.message:
                problems.append("message %r, expected %r" % (text[:200], case.message[:200]))
            if m and case.line is not None and int(m.group(2)) != case.line:
                problems.append("error reported on line %s, expected %d" % (m.group(2).decode(), case.line))
            if m and m.group(1) == b"LexError" and not err.endswith(b" \n"):
                problems.append("LexError line must end in a blank")
            if not out.startswith(opened) and not out.startswith(b"Nelze otevrit vstupni soubor "):
                problems.append("transcript does not start with the opening line: %r" % out[:200])
            # Anything the run created is a leftover; only the listed
            # entries may go (a link the failed write had opened).
            for key in set(after) - set(before):
                problems.append("failed run left %s behind" % key)
            for key in set(before):
                if key not in after and key not in case.removed:
                    problems.append("failed run removed %s" % key)
                elif key in after and before[key] != after[key]:
                    problems.append("failed run changed %s" % key)
        if rc == 0 and case.same_as is not None and not problems:
            reference = os.path.join(tmp, "reference")
            os.mkdir(reference)
            with open(os.path.join(reference, "in.txt"), "wb") as f:
                f.write(case.same_as)
            subprocess.run([guardgen, "in.txt"], cwd=reference, capture_output=True, timeout=timeout)
            with open(os.path.join(tmp, out_rel), "rb") as a, open(os.path.join(reference, "in.vhd"), "rb") as b:
                if a.read() != b.read():
                    problems.append("checker differs from the one of the reference description")
        if case.stdout is not None and out != case.stdout:
            problems.append("stdout %r, expected %r" % (out[:200], case.stdout))
    return problems


# ---------------------------------------------------------------------------
# The cases, by group.

def lex_error(byte):
    shown = bytes([byte]) if byte else b""
    return b"Neznamy symbol: " + shown


def cases_bytes():
    rng = random.Random(7)
    out = []
    for i in range(12):
        size = rng.choice([1, 7, 64, 500, 4096, 65536 + 3])
        data = bytes(rng.randrange(256) for _ in range(size))
        out.append(Case("bytes", "random %d bytes #%d" % (size, i), {"in.txt": data}, status="either"))
        # Past the first token, so that the parser meets the noise.
        out.append(Case("bytes", "@ and random %d bytes #%d" % (size, i),
                        {"in.txt": b"@\n" + data}, status="either"))
    # Random text from the language's own alphabet goes deeper.
    alphabet = b"@#$();,:=<>!/ \n\tabXY_01AND OR"
    for i in range(12):
        data = bytes(rng.choice(alphabet) for _ in range(rng.choice([10, 200, 3000])))
        out.append(Case("bytes", "random tokens #%d" % i, {"in.txt": data}, status="either"))

    out.append(Case("bytes", "only NUL bytes", {"in.txt": b"\0" * 100}, status=1,
                    message=lex_error(0), line=1))
    out.append(Case("bytes", "NUL inside a name", {"in.txt": b"@\nA = X\0Y == 1;\n#\n"}, status=1,
                    message=lex_error(0), line=2))
    out.append(Case("bytes", "NUL after the last row", {"in.txt": SMALL + b"\0"}, status=1,
                    message=lex_error(0), line=6))
    out.append(Case("bytes", "NUL and high bytes in a comment",
                    {"in.txt": b"// \0\x80\xff\xc3\xa9\x01\n" + SMALL}, status=0))
    out.append(Case("bytes", "UTF-8 byte order mark", {"in.txt": b"\xef\xbb\xbf" + SMALL}, status=1,
                    message=lex_error(0xEF), line=1))
    for b in range(128, 256):
        out.append(Case("bytes", "byte %d in a state name" % b,
                        {"in.txt": b"@\nA = X == 1;\n#\n(S" + bytes([b]) + b", A) : T;\n"},
                        status=1, message=lex_error(b), line=4))
    blanks = {9, 10, 11, 12, 13, 32}
    for b in list(range(0, 32)) + [127]:
        if b in blanks:
            continue
        out.append(Case("bytes", "control byte %d first" % b, {"in.txt": bytes([b]) + SMALL},
                        status=1, message=lex_error(b), line=1))
    for b in sorted(blanks):
        out.append(Case("bytes", "blank byte %d between tokens" % b,
                        {"in.txt": SMALL.replace(b" ", bytes([b]))}, status=0))
    for b in b"\"%&'*+-.?[\\]^`{|}~":
        out.append(Case("bytes", "unknown character %r" % chr(b),
                        {"in.txt": b"@\nA = X == 1 " + bytes([b]) + b";\n#\n"},
                        status=1, message=lex_error(b), line=2))
    return out


def truncation_expectation(prefix):
    """Status a prefix of FULL must give: the prefixes that end after a
    complete row (or at the "$") are whole descriptions."""
    # Drop a trailing comment or blanks; a complete row then ends in ";".
    text = prefix
    rows = text.split(b"#\n", 1)
    if len(rows) < 2:
        return 1
    body = re.sub(rb"//[^\n]*\Z", b"", rows[1].rstrip())
    body = re.sub(rb"/\Z", b"", body).rstrip()  # a lone "/" at the end reads as the end
    if body.endswith(b"$"):
        body = body[:-1].rstrip()
    return 0 if body.endswith(b";") else 1


def cases_truncation():
    out = []
    for n in range(len(FULL)):
        prefix = FULL[:n]
        out.append(Case("truncation", "first %d bytes" % n, {"in.txt": prefix},
                        status=truncation_expectation(prefix)))
    out.append(Case("truncation", "whole description", {"in.txt": FULL}, status=0))
    # A truncated worked-example variant with CR LF line ends, at every byte.
    crlf = SMALL.replace(b"\n", b"\r\n")
    for n in range(len(crlf)):
        out.append(Case("truncation", "CR LF, first %d bytes" % n, {"in.txt": crlf[:n]},
                        status="either"))
    return out


def rows(count, per_line=True):
    sep = b"\n" if per_line else b" "
    body = [b"@", b"GO = X == 1;", b"STOP = X == 0;", b"#"]
    states = [b"S%d" % i for i in range(97)]
    for i in range(count):
        label = b"GO" if i % 2 else b"STOP"
        body.append(b"(" + states[i % 97] + b", " + label + b") : " + states[(i * 7 + 1) % 97] + b";")
    return sep.join(body) + b"\n"


def state_type(expected_states, expected_elsifs):
    """A check of the state type list and of the number of elsif lines."""
    def inspect(text):
        problems = []
        m = re.search(rb"\ntype t_state is \((.*)\);\n", text)
        if not m:
            return ["no state type in the checker"]
        states = m.group(1).split(b",")
        if states != expected_states + [b"Serr"]:
            problems.append("state type lists %d names, expected %d in order of first appearance"
                            % (len(states), len(expected_states) + 1))
        elsifs = text.count(b"\n       elsif (")
        if elsifs != expected_elsifs:
            problems.append("%d elsif lines, expected %d" % (elsifs, expected_elsifs))
        return problems
    return inspect


def cases_size():
    out = []
    ten_mb = 10 * 1024 * 1024
    out.append(Case("size", "10 MB comment line", {"in.txt": b"//" + b"x" * ten_mb + b"\n" + SMALL},
                    status=0))
    out.append(Case("size", "10 MB line of blanks", {"in.txt": b"@" + b" " * ten_mb + b"#(S):S;"},
                    status=0))
    one_line = rows(ten_mb // 16, per_line=False)
    out.append(Case("size", "10 MB line of rows (%d bytes)" % len(one_line), {"in.txt": one_line},
                    status=0))
    out.append(Case("size", "10 MB line of rows ending in an error",
                    {"in.txt": one_line.rstrip() + b" (S1, GO) : %"}, status=1,
                    message=lex_error(ord("%")), line=1))

    million = 1000000
    name = b"N" * million
    out.append(Case("size", "state name of a million characters",
                    {"in.txt": b"@\nA = X == 1;\n#\n(" + name + b", A) : " + name + b";\n"}, status=1,
                    message=b"Chyba, jmeno " + name + b" nelze pouzit ve VHDL"))
    longest = b"N" * 1023
    out.append(Case("size", "state name of 1023 characters, the longest VHDL tools take",
                    {"in.txt": b"@\nA = X == 1;\n#\n(" + longest + b", A) : " + longest + b";\n"},
                    status=0))
    out.append(Case("size", "symbol and signal names of a million characters",
                    {"in.txt": b"@\n" + b"S" * million + b" = " + b"G" * million + b" == 1;\n#\n(A, "
                     + b"S" * million + b") : A;\n"}, status=1,
                    message=b"Chyba, jmeno " + b"S" * million + b" nelze pouzit ve VHDL"))
    out.append(Case("size", "name of a million characters ending in _",
                    {"in.txt": b"@\n" + b"S" * million + b"_ = X == 1;\n#\n"}, status=1,
                    message=b"Chyba, jmeno " + b"S" * million + b"_ nelze pouzit ve VHDL"))
    out.append(Case("size", "constant of a million digits",
                    {"in.txt": b"@\nA = X == " + b"01" * (million // 2) + b";\n#\n(S, A) : S;\n"},
                    status=0))
    out.append(Case("size", "constant of a million and one digits",
                    {"in.txt": b"@\nA = X == " + b"1" * (million + 1) + b";\n#\n(S, A) : S;\n"},
                    status=1, message=b"Chyba, konstanta ma vice nez 1000000 cislic", line=2))
    out.append(Case("size", "constant of a million digits, not binary",
                    {"in.txt": b"@\nA = X == " + b"1" * (million - 1) + b"2;\n#\n"},
                    status=1, message=b"Chyba, konstanta " + b"1" * (million - 1) + b"2 neni binarni"))
    out.append(Case("size", "constant of ten million digits",
                    {"in.txt": b"@\nA = X == " + b"0" * (10 * million) + b";\n#\n"},
                    status=1, message=b"Chyba, konstanta ma vice nez 1000000 cislic"))

    comparisons = 100000
    ors = b" OR ".join(b"X%d == 1" % (i % 50) for i in range(comparisons))
    out.append(Case("size", "100,000 comparisons joined by OR",
                    {"in.txt": b"@\nA = " + ors + b";\n#\n(S, A) : S;\n"}, status=0))
    mixed = b"".join((b" AND " if i % 3 else b" OR ") + b"X%d <> 1" % (i % 50)
                     for i in range(1, comparisons))
    out.append(Case("size", "100,000 comparisons mixing AND and OR",
                    {"in.txt": b"@\nA = X0 == 0" + mixed + b";\n#\n(S, A) : S;\n"}, status=0))
    out.append(Case("size", "100,000 comparisons, the last without a constant",
                    {"in.txt": b"@\nA = " + ors + b" OR X1 == ;\n#\n"}, status=1,
                    message=b"Syntakticka chyba, chyby celociselna konstanta", line=2))

    out.append(Case("size", "a million rows", {"in.txt": rows(million)}, status=0))
    out.append(Case("size", "a million rows, the last one broken",
                    {"in.txt": rows(million) + b"(S1, GO) S2;\n"}, status=1,
                    message=b"Syntakticka chyba, ocekavan symbol :", line=million + 5))
    # Many distinct states: the state index grows many times over.
    n = 200000
    names = [b"S%d" % i for i in range(n + 1)]
    chain = b"@\nGO = X == 1;\nSTOP = X == 0;\n#\n" + b"".join(
        b"(" + names[i] + b", GO) : " + names[i + 1] + b";\n" for i in range(n))
    out.append(Case("size", "200,000 distinct states in a chain", {"in.txt": chain}, status=0,
                    inspect=state_type(names, 0)))
    apart = chain + b"".join(b"(" + names[i] + b", STOP) : S0;\n" for i in range(n))
    out.append(Case("size", "200,000 distinct states, the rows of each apart", {"in.txt": apart},
                    status=0, inspect=state_type(names, n)))
    many_symbols = b"@\n" + b"".join(b"A%d = X == 1;\n" % i for i in range(200000)) + b"#\n(S, A7) : S;\n"
    out.append(Case("size", "200,000 input symbols", {"in.txt": many_symbols}, status=0))
    return out


def cases_line_ends():
    out = []
    for label, sep in (("CR LF", b"\r\n"), ("CR only", b"\r"), ("LF CR", b"\n\r")):
        out.append(Case("line ends", label + " description", {"in.txt": FULL.replace(b"\n", sep)},
                        status=1 if sep == b"\r" else 0,
                        message=b"Spatny format: Vstupni soubor je prazdny" if sep == b"\r" else None,
                        same_as=FULL))
    # Without a line feed the first comment runs to the end of the file, so
    # the CR-only variant of FULL is empty; without comments it is valid.
    no_comments = b"".join(re.sub(rb"//[^\n]*", b"", ln) + b"\r" for ln in FULL.split(b"\n"))
    out.append(Case("line ends", "CR only description without comments", {"in.txt": no_comments},
                    status=0, same_as=FULL))
    out.append(Case("line ends", "CR LF, error on line 4",
                    {"in.txt": b"@\r\nA = X == 1;\r\n#\r\n(S, A) T;\r\n"}, status=1,
                    message=b"Syntakticka chyba, ocekavan symbol :", line=4))
    # A carriage return is no line break: everything stays on line 1.
    out.append(Case("line ends", "CR only, error stays on line 1",
                    {"in.txt": b"@\rA = X == 1;\r#\r(S, A) T;\r"}, status=1,
                    message=b"Syntakticka chyba, ocekavan symbol :", line=1))
    out.append(Case("line ends", "CR LF comment at the end without a line end",
                    {"in.txt": SMALL.replace(b"\n", b"\r\n") + b"// done\r"}, status=0))
    return out


def cases_empty():
    empty = b"Spatny format: Vstupni soubor je prazdny"
    return [
        Case("empty", "empty file", {"in.txt": b""}, status=1, message=empty, line=1),
        Case("empty", "blanks only", {"in.txt": b" \t\r\n\v\f"}, status=1, message=empty),
        Case("empty", "comment without a line end", {"in.txt": b"// x"}, status=1, message=empty),
        Case("empty", "a lone slash", {"in.txt": b"/"}, status=1, message=empty),
        Case("empty", "no rows", {"in.txt": b"@ #"}, status=1,
             message=b"Chyba, popis neobsahuje zadny prechod"),
    ]


def cases_paths():
    cant_write = b"Nelze zapsat vystupni soubor"
    return [
        Case("paths", "directory as input", {"in.txt": ("dir",)}, status=1,
             stdout=b"Nelze otevrit vstupni soubor in.txt"),
        Case("paths", "directory with a .vhd name as input", {"d.vhd": ("dir",)}, arg="d.vhd", status=1,
             stdout=b"Nelze otevrit vstupni soubor d.vhd"),
        Case("paths", "input that does not exist", {}, arg="missing.txt", status=1,
             stdout=b"Nelze otevrit vstupni soubor missing.txt"),
        Case("paths", "output path is a directory", {"in.txt": SMALL, "in.vhd": ("dir",)}, status=1,
             message=b"Nelze otevrit vystupni soubor"),
        Case("paths", "output path is a link to /dev/full",
             {"in.txt": SMALL, "in.vhd": ("symlink", "/dev/full")}, status=1, message=cant_write,
             removed={"in.vhd"}),
        Case("paths", "large checker to /dev/full",
             {"in.txt": rows(20000), "in.vhd": ("symlink", "/dev/full")}, status=1, message=cant_write,
             removed={"in.vhd"}),
        Case("paths", "input named x.vhd", {"x.vhd": SMALL}, arg="x.vhd", status=1,
             message=b"Nelze prepsat vstupni soubor"),
        Case("paths", "output path is a link to the input",
             {"in.txt": SMALL, "in.vhd": ("symlink", "in.txt")}, status=1,
             message=b"Nelze prepsat vstupni soubor"),
        Case("paths", "output path is a hard link to the input",
             {"in.txt": SMALL, "in.vhd": ("hardlink", "in.txt")}, status=1,
             message=b"Nelze prepsat vstupni soubor"),
        Case("paths", "input is a link, output the file it names",
             {"real.vhd": SMALL, "real.txt": ("symlink", "real.vhd")}, arg="real.txt", status=1,
             message=b"Nelze prepsat vstupni soubor"),
        Case("paths", "output path is a link to a missing file",
             {"in.txt": SMALL, "in.vhd": ("symlink", "nowhere/x.vhd")}, status=1,
             message=b"Nelze otevrit vystupni soubor"),
        Case("paths", "old checker survives a failed parse",
             {"in.txt": b"@\nA = X == 2;\n#\n", "in.vhd": b"old checker\n"}, status=1,
             message=b"Chyba, konstanta 2 neni binarni"),
        Case("paths", "old checker is replaced", {"in.txt": SMALL, "in.vhd": b"old checker\n"},
             status=0),
        Case("paths", "input in a directory with a dot", {"d.d/fsm": SMALL}, arg="d.d/fsm", status=0),
        Case("paths", "no argument", {}, extra_args=[], status=1, usage=True),
        Case("paths", "two arguments", {"in.txt": SMALL}, extra_args=["in.txt", "in.txt"], status=1,
             usage=True),
    ]


def corpus_cases():
    """The fuzzing seeds and every former crash input, through the executable."""
    out = []
    directory = os.path.join(ROOT, "fuzz", "corpus")
    if os.path.isdir(directory):
        for name in sorted(os.listdir(directory)):
            with open(os.path.join(directory, name), "rb") as f:
                data = f.read()
            status = 0 if name.startswith("valid-") else 1 if name.startswith("err-") else "either"
            out.append(Case("fuzz corpus", name, {"in.txt": data}, status=status))
    return out


def all_cases():
    return (cases_bytes() + cases_truncation() + cases_size() + cases_line_ends() + cases_empty()
            + cases_paths() + corpus_cases())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--guardgen", required=True, help="path of the guardgen executable")
    parser.add_argument("--timeout", type=float, default=60, help="seconds one run may take")
    parser.add_argument("--filter", default="", help="run only cases whose group or name holds this")
    parser.add_argument("--jobs", type=int, default=2, help="runs at the same time")
    args = parser.parse_args()

    guardgen = os.path.abspath(args.guardgen)
    if not os.access(guardgen, os.X_OK):
        print("not an executable: %s" % guardgen)
        return 2
    cases = [c for c in all_cases() if args.filter in c.group + " " + c.name]

    started = time.monotonic()
    passed = failed = 0
    by_group = {}
    times = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = [(c, pool.submit(check, c, guardgen, args.timeout)) for c in cases]
        for case, future in futures:
            problems, seconds = future.result()
            times.append((seconds, case.group, case.name))
            counts = by_group.setdefault(case.group, [0, 0])
            if problems:
                failed += 1
                counts[1] += 1
                for p in problems:
                    print("FAIL [%s] %s: %s" % (case.group, case.name, p))
            else:
                passed += 1
                counts[0] += 1
    for group, (ok, bad) in by_group.items():
        print("  %-12s %4d passed, %d failed" % (group, ok, bad))
    for seconds, group, name in sorted(times, reverse=True)[:5]:
        print("  slowest: %5.2f s  [%s] %s" % (seconds, group, name))
    print("time %.1f s" % (time.monotonic() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
