#!/usr/bin/env python3
"""Runs the program with an input on standard input and checks all it writes.

  dialogue.py [--windows] cases -- COMMAND...        the table in cases.txt
  dialogue.py pause-fails -- COMMAND...              no stty or dd on PATH
  dialogue.py [--windows] [--max-rss-kib N] long-digits -- COMMAND...
  dialogue.py start -- COMMAND...                    COMMAND exits with 0

COMMAND starts the program, under an emulator if need be. With --windows the
program's lines end in CR LF and what the command processor's pause writes
after them is not compared. Where the host's kernel cannot start the command
(a 32-bit Wine on a kernel without IA-32 emulation), the check exits with 77,
the skip code.
"""
import argparse
import ast
import os
import re
import shlex
import subprocess
import sys
import tempfile
import threading
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

LOWEST, HIGHEST = -(2**31), 2**31 - 1
PAUSE = b"Press any key to continue . . . \n"
CASE = re.compile(r'^(".*")\s+(-?\d+)\s*(.*)$')
SKIP = 77


class CannotStart(Exception):
    """The kernel refused to start the command: nothing of ours ran."""


def expected_output(largest, windows):
    lines = b"\nUnesite 3 broja:\nNajveci broj je: %d\n" % largest
    return lines.replace(b"\n", b"\r\n") if windows else lines + PAUSE


def run(command, chunks, args=(), env=None, timeout=60):
    """Feeds the chunks to the program; returns stdout, stderr, exit status."""
    proc = subprocess.Popen([*command, *args], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env)

    def feed():
        try:
            for chunk in chunks:
                proc.stdin.write(chunk)
            proc.stdin.close()
        except BrokenPipeError:
            pass  # the program stops reading after the third number

    threading.Thread(target=feed, daemon=True).start()
    timer = threading.Timer(timeout, proc.kill)
    timer.start()
    out, err = proc.stdout.read(), proc.stderr.read()
    proc.wait()
    timer.cancel()
    # What a shell or Wine's launcher says when exec() gives ENOEXEC.
    if proc.returncode == 126 and b"Exec format error" in err:
        raise CannotStart(err.decode(errors="replace").strip())
    return out, err, proc.returncode


def verdict(out, err, status, largest, windows=False):
    """What is wrong with a run, or None."""
    expected = expected_output(largest, windows)
    if not (out.startswith(expected) if windows else out == expected):
        return f"stdout {out!r}, expected {expected!r}"
    if err:
        return f"stderr {err!r}"
    if status != 0:
        return f"exit status {status}"
    return None


def load_cases():
    for number, line in enumerate(
            (Path(__file__).parent / "cases.txt").read_text().splitlines(), 1):
        if line.strip() and not line.startswith("#"):
            text, largest, args = CASE.match(line).groups()
            yield number, ast.literal_eval("b" + text), int(largest), shlex.split(args)


def cases(command, windows):
    def one(case):
        number, text, largest, args = case
        problem = verdict(*run(command, [text], args), largest, windows)
        return f"cases.txt:{number}: input {text!r}: {problem}" if problem else None

    table = list(load_cases())
    with ThreadPoolExecutor(max_workers=4) as pool:
        problems = [p for p in pool.map(one, table) if p]
    print(*problems, sep="\n", file=sys.stderr)
    print(f"{len(table) - len(problems)} passed, {len(problems)} failed")
    return not problems


def pause_fails(command):
    env = dict(os.environ, PATH="/nonexistent")
    problem = verdict(*run(command, [b"5 9 2"], env=env), 9)
    print(problem or "the program ends as usual when the pause cannot run")
    return not problem


def long_digits(command, windows, max_rss_kib):
    # GNU time, not wait4 here: a child forked from Python inherits its
    # high-water mark of memory.
    with tempfile.NamedTemporaryFile() as peak:
        megabyte = b"7" * 2**20
        problem = verdict(*run(["time", "-f", "%M", "-o", peak.name, *command],
                               [megabyte] * 100 + [b" 1 2"]), HIGHEST, windows)
        rss = int(peak.read().split()[-1])
    if not problem and max_rss_kib and rss > max_rss_kib:
        problem = f"peak memory {rss} KiB, more than {max_rss_kib} KiB"
    print(problem or f"100 MiB of digits: clamped, peak memory {rss} KiB")
    return not problem


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check",
                        choices=["cases", "pause-fails", "long-digits", "start"])
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--max-rss-kib", type=int)
    parser.add_argument("command", nargs="+")
    opts = parser.parse_args()
    try:
        return 0 if check(opts) else 1
    except CannotStart as error:
        print(f"skipped: this host's kernel does not run 32-bit programs ({error})")
        return SKIP


def check(opts):
    if opts.check == "start":
        out, err, status = run(opts.command, [])
        print(f"{opts.command[0]}: exit status {status}")
        return status == 0
    if opts.check == "cases":
        ok = cases(opts.command, opts.windows)
    elif opts.check == "pause-fails":
        ok = pause_fails(opts.command)
    else:
        ok = long_digits(opts.command, opts.windows, opts.max_rss_kib)
    return ok


if __name__ == "__main__":
    sys.exit(main())
