#!/usr/bin/env python3
"""Runs the program as a pipeline or a person at a terminal would, and
checks all it shows.

  dialogue.py [--windows] cases -- COMMAND...     the table in cases.txt
  setsid -w dialogue.py scenarios -- COMMAND...   the table in scenarios.txt
  dialogue.py [--windows] [--max-rss-kib N] long-digits -- COMMAND...
  dialogue.py start -- COMMAND...                 COMMAND exits with 0

COMMAND starts the program, under an emulator if need be. With --windows its
lines end in CR LF, and what the command processor's pause writes after them
is not compared. Where the kernel cannot start COMMAND (a 32-bit Wine on a
kernel without IA-32 emulation) the check exits with 77, CTest's skip code.
The scenarios make a terminal of their own, so they need a session of their
own: hence setsid.
"""
import argparse
import ast
import fcntl
import os
import re
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import termios
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

HIGHEST = 2**31 - 1
PAUSE = b"Press any key to continue . . . "
SKIP = 77
PATIENCE = 5  # seconds for what takes milliseconds; only a fault waits longer


class CannotStart(Exception):
    """The kernel refused to start the command: nothing of ours ran."""


def dialogue(largest, windows=False):
    text = b"\nUnesite 3 broja:\nNajveci broj je: %d\n" % largest
    return text.replace(b"\n", b"\r\n") if windows else text + PAUSE + b"\n"


def run(command, text, args=(), timeout=PATIENCE):
    # Files, not pipes: Wine's server lingers for seconds after the program
    # with the pipes it inherited, and the run is over when the program is.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run([*command, *args], input=text, stdout=out,
                                stderr=err, timeout=timeout).returncode
        result = subprocess.CompletedProcess(command, status, *(
            f.seek(0) or f.read() for f in (out, err)))
    # What a shell, Wine's launcher among them, says when exec() fails so.
    if result.returncode == 126 and b"Exec format error" in result.stderr:
        raise CannotStart(result.stderr.decode(errors="replace").strip())
    return result


def verdict(result, largest, windows=False):
    """What is wrong with a run, or None."""
    out, expected = result.stdout, dialogue(largest, windows)
    if not (out.startswith(expected) if windows else out == expected):
        return f"stdout {out!r}, expected {expected!r}"
    if result.stderr:
        return f"stderr {result.stderr!r}"
    return f"exit status {result.returncode}" if result.returncode else None


def table(name, row):
    """(line number, fields) of each row of a table beside this script."""
    for number, line in enumerate((Path(__file__).parent / name).read_text()
                                  .splitlines(), 1):
        if line.strip() and not line.startswith("#"):
            yield number, re.match(row, line).groups()


def text(quoted):
    return ast.literal_eval("b" + quoted)


def cases(command, windows):
    def one(case):
        number, (quoted, largest, args) = case
        problem = verdict(run(command, text(quoted), shlex.split(args)),
                          int(largest), windows)
        return problem and f"cases.txt:{number}: input {quoted}: {problem}"

    rows = list(table("cases.txt", r'^(".*")\s+(-?\d+)\s*(.*)$'))
    with ThreadPoolExecutor(max_workers=4) as pool:
        problems = [p for p in pool.map(one, rows) if p]
    print(*problems, sep="\n")
    print(f"{len(rows) - len(problems)} passed, {len(problems)} failed")
    return not problems


class Scenario:
    """One run of the program with its input fed step by step."""
    terminal = None  # (master, slave, settings): one for all, made once

    def __init__(self, mode, command):
        self.mode, self.screen, self.unread = mode, b"", None
        if mode == "terminal":
            if not Scenario.terminal:
                master, slave = os.openpty()
                fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                Scenario.terminal = master, slave, termios.tcgetattr(slave)
            self.out, self.slave, self.settings = Scenario.terminal
            self.into, io = self.out, {"stdin": self.slave, "stdout": self.slave,
                                       "stderr": self.slave}
        else:
            stdin, self.into = os.pipe()
            os.set_blocking(stdin, mode != "nonblocking")
            self.out, stdout = os.pipe()
            io = {"stdin": stdin, "stderr": subprocess.PIPE, "stdout": {
                "stdout-full": open("/dev/full", "wb"),
                "stdout-closed": subprocess.DEVNULL}.get(mode, stdout)}
            self.stdin = stdin
        self.proc = subprocess.Popen(command, **io, process_group=0,
                                     preexec_fn=self.in_child)
        if mode != "terminal":
            os.close(stdout)

    def in_child(self):
        if self.mode == "terminal":  # the foreground job, as a shell makes it
            os.tcsetpgrp(0, os.getpgrp())
            signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        elif self.mode == "stdout-closed":
            os.close(1)

    def cleanup(self):
        """After a failure: the terminal fit for the scenarios after it."""
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
        if self.mode == "terminal":
            termios.tcsetattr(self.slave, termios.TCSANOW, self.settings)
            os.write(self.into, b"\x11")  # Ctrl-Q, should Ctrl-S have stopped it

    def until(self, condition, what):
        deadline = time.monotonic() + PATIENCE
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError(f"{what}: not so after {PATIENCE} s")
            if select.select([self.out], [], [], 0.005)[0]:
                self.screen += os.read(self.out, 4096)

    def state(self):
        try:
            stat = Path(f"/proc/{self.proc.pid}/stat").read_text()
            return stat[stat.rindex(")") + 2]
        except FileNotFoundError:
            return "gone"

    def step(self, verb, arg):
        shown = {"prompt": b"Unesite 3 broja:", "pause": PAUSE}
        if verb == "type":
            os.write(self.into, text(arg))
        elif verb == "close":
            os.close(self.into)
        elif verb == "signal":
            self.proc.send_signal(getattr(signal, "SIG" + arg))
        elif verb == "await" and arg in shown:
            self.until(lambda: shown[arg] in self.screen, f"{arg} shown")
        elif verb == "await" and arg == "key-mode":
            # The text first: a signal key would flush what is not yet read.
            self.until(lambda: PAUSE in self.screen and not termios.tcgetattr(
                self.slave)[3] & termios.ICANON, "the pause in key mode")
        elif verb == "await":  # asleep or stopped: a state of the process
            wanted = {"asleep": "S", "stopped": "T"}[arg]
            self.until(lambda: self.state() == wanted, f"the program {arg}")
        elif verb == "as-found":
            assert termios.tcgetattr(self.slave) == self.settings, \
                "terminal settings not as found"
        elif verb == "unread":
            os.set_blocking(self.stdin, False)
            assert os.read(self.stdin, 64) == text(arg), "not the input left"
        elif verb == "exit":
            status = self.proc.wait(PATIENCE)
            assert status == int(arg), f"exit status {status}"
            self.finish(status)

    def finish(self, status):
        """What every run must leave: the whole dialogue shown, nothing on
        stderr, the terminal as found, and no process behind."""
        while select.select([self.out], [], [], 0)[0] and (
                chunk := os.read(self.out, 4096)):
            self.screen += chunk
        expected = dialogue(9)[:None if status == 0 else -1]
        if self.mode == "terminal":
            expected = expected.replace(b"\n", b"\r\n").replace(
                b":\r\n", b":5 9 2\r\n\r\n", 1)
            assert termios.tcgetattr(self.slave) == self.settings, \
                "terminal settings not restored"
            count = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4)
            assert not int.from_bytes(count, sys.byteorder), "input left unread"
        else:
            assert not self.proc.stderr.read(), "something on stderr"
        if self.mode not in ("stdout-full", "stdout-closed"):
            assert self.screen == expected, f"expected {expected!r}"
        try:
            os.killpg(self.proc.pid, 0)
            raise AssertionError("a process left behind")
        except ProcessLookupError:
            pass


def scenarios(command):
    failed = 0
    rows = list(table("scenarios.txt", r"^(\S+)\s+(.*)$"))
    for number, (mode, steps) in rows:
        scenario = Scenario(mode, command)
        try:
            for step in steps.split(" | "):
                scenario.step(*(step.split(" ", 1) + [""])[:2])
        except (AssertionError, subprocess.TimeoutExpired) as problem:
            failed += 1
            print(f"scenarios.txt:{number}: {problem}; shown {scenario.screen!r}")
            scenario.cleanup()
    print(f"{len(rows) - failed} passed, {failed} failed")
    return not failed


def long_digits(command, windows, max_rss_kib):
    # GNU time, not wait4 here: a child forked from Python inherits its
    # high-water mark of memory.
    with tempfile.NamedTemporaryFile() as peak:
        result = run(["time", "-f", "%M", "-o", peak.name, *command],
                     b"7" * 100 * 2**20 + b" 1 2", timeout=60)
        rss = int(peak.read().split()[-1])
    problem = verdict(result, HIGHEST, windows)
    if not problem and max_rss_kib and rss > max_rss_kib:
        problem = f"peak memory {rss} KiB, more than {max_rss_kib} KiB"
    print(problem or f"100 MiB of digits: clamped, peak memory {rss} KiB")
    return not problem


def check(opts):
    if opts.check == "start":
        status = run(opts.command, b"", timeout=60).returncode
        print(f"{opts.command[0]}: exit status {status}")
        return status == 0
    if opts.check == "cases":
        return cases(opts.command, opts.windows)
    if opts.check == "scenarios":
        return scenarios(opts.command)
    return long_digits(opts.command, opts.windows, opts.max_rss_kib)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["cases", "scenarios", "long-digits", "start"])
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--max-rss-kib", type=int)
    parser.add_argument("command", nargs="+")
    opts = parser.parse_args()
    try:
        return 0 if check(opts) else 1
    except CannotStart as error:
        print(f"skipped: this host's kernel does not run 32-bit programs ({error})")
        return SKIP


if __name__ == "__main__":
    sys.exit(main())
