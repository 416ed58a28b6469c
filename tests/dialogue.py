#!/usr/bin/env python3
# Runs the program as a pipeline or a person at a terminal would, and checks all it shows.
#
#   dialogue.py cases [--max-rss-kib=N] -- COMMAND...
#   setsid -w dialogue.py scenarios -- COMMAND...
#
# cases: each row of cases.txt piped in, every run under N KiB of memory at its peak. From a
# Windows program (an .exe) lines end in CR LF, and what the command processor's pause writes
# after them is not compared.
# scenarios: each row of scenarios.txt; they make a terminal, so they need a session of their own.
import ast
import contextlib
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
from fcntl import ioctl
from pathlib import Path

PAUSE = b"Press any key to continue . . . "
PATIENCE = 5  # seconds for what takes milliseconds; only a fault waits longer


# Bytes written as "..." with Python's escapes, each maybe repeated (*N).
def data(spec):
    return b"".join(ast.literal_eval("b" + part) * int(times or 1)
                    for part, times in re.findall(r'(".*?")(?:\*(\d+))?', spec))


def table(name, row):
    lines = (Path(__file__).parent / name).read_text().splitlines()
    return [(f"{name}:{n}", *re.match(row, line).groups())
            for n, line in enumerate(lines, 1) if line.strip() and line[0] != "#"]


def signum(name):  # TERM, RTMIN+1
    base, _, offset = name.partition("+")
    return getattr(signal, "SIG" + base) + int(offset or 0)


def unread(fd):
    return int.from_bytes(ioctl(fd, termios.FIONREAD, bytes(4)), sys.byteorder)


# One run of the program, its input fed step by step. Its stderr goes to a file: Wine's server
# lingers for seconds with the pipes it inherited.
class Run:
    terminal = []  # master, slave, settings: one for all, as a session has one

    def __init__(self, mode, command, largest):
        self.mode, self.shown, self.err = mode, b"", tempfile.TemporaryFile()
        self.pauses, self.left = 1, 0  # the pause's text shown again after each stop
        self.windows = windows = any(word.endswith(".exe") for word in command)
        text = b"\nUnesite 3 broja:\nNajveci broj je: %d\n" % largest
        self.expected = text.replace(b"\n", b"\r\n") if windows else text + PAUSE + b"\n"
        if mode.startswith("terminal"):
            if not self.terminal:
                master, slave = os.openpty()
                ioctl(slave, termios.TIOCSCTTY, 0)
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                self.terminal += master, slave, termios.tcgetattr(slave)
            self.out, self.slave, self.settings = self.terminal
            io = dict.fromkeys(("stdin", "stdout", "stderr"), self.slave)
        else:
            io = {"stdin": subprocess.PIPE, "stderr": self.err}
        stdout = None
        if mode == "stdout-full":
            self.out, io["stdout"] = None, open("/dev/full", "wb")
        elif mode in ("pipe", "nonblocking", "terminal-piped-out"):
            self.out, stdout = os.pipe()
            io["stdout"] = stdout
        self.proc = subprocess.Popen(command, **io, process_group=0, preexec_fn=self.in_child)
        self.into = self.proc.stdin.fileno() if self.proc.stdin else self.terminal[0]
        if stdout:  # the program's end of its stdout pipe is its own
            os.close(stdout)

    def in_child(self):
        if self.mode.startswith("terminal"):  # the foreground job, as a shell makes it
            os.tcsetpgrp(0, os.getpgrp())
        ignoring = "ignoring-int" in self.mode
        signal.signal(signal.SIGINT, signal.SIG_IGN if ignoring else signal.SIG_DFL)
        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        os.set_blocking(0, self.mode != "nonblocking")

    def read(self, wait=0):
        while self.out and select.select([self.out], [], [], wait)[0] and (
                chunk := os.read(self.out, 4096)):
            self.shown += chunk

    def until(self, condition, what):
        deadline = time.monotonic() + PATIENCE
        while not condition():
            assert time.monotonic() < deadline, f"{what}: not so in {PATIENCE} s"
            self.read(0.005)

    def state(self):
        stat = Path(f"/proc/{self.proc.pid}/stat")
        return stat.exists() and stat.read_text().rsplit(") ", 1)[1][0]

    def step(self, verb, arg=""):
        if verb == "type":
            with contextlib.suppress(BrokenPipeError):  # the program has stopped reading
                os.write(self.into, data(arg))
        elif verb == "close":  # the end of the input; "close output": its reader gone
            if arg:
                os.close(self.out)
                self.out = None
            else:
                self.proc.stdin.close()
        elif verb == "signal":
            self.proc.send_signal(signum(arg))
        elif verb == "await":
            self.until({
                "prompt": lambda: b"Unesite 3 broja:" in self.shown,
                # The text first: a signal key flushes what is not yet read.
                "key-mode": lambda: PAUSE in self.shown and not termios.tcgetattr(
                    self.slave)[3] & termios.ICANON,
                "pause": lambda: PAUSE in self.shown,
                "asleep": lambda: self.state() == "S",
                "frozen": lambda: self.state() == "T",
                "stopped": lambda: self.state() == "T" and termios.tcgetattr(
                    self.slave) == self.settings}[arg], arg)
            self.pauses += arg == "stopped"
        elif verb == "unread":  # how many bytes of the input are left in the pipe or terminal
            left = self.left if self.mode.startswith("terminal") else unread(self.into)
            assert left == int(arg), f"{left} bytes of the input left"
            if self.left:
                termios.tcflush(self.slave, termios.TCIFLUSH)
            self.left = 0
        else:
            assert verb == "exit", f"no step {verb}"
            self.finish(int(arg) if arg.lstrip("-").isdigit() else -signum(arg))

    # What every run leaves: the whole dialogue shown, nothing on stderr, the terminal as found
    # with no input left, and no process behind.
    def finish(self, wanted):
        status = self.proc.wait(PATIENCE)
        self.read()
        err = self.err.seek(0) or self.err.read()
        assert not err, f"stderr {err!r}"
        expected = self.expected.replace(PAUSE, PAUSE * self.pauses)
        if status != 0:  # ended by a signal: the dialogue up to the pause's text, or the prompt
            expected = expected[:expected.rindex(PAUSE) + len(PAUSE) if PAUSE in self.shown
                                else expected.index(b":") + 1]
        if self.mode.startswith("terminal"):
            if self.out == self.terminal[0]:
                expected = expected.replace(b"\n", b"\r\n").replace(b":\r\n", b":5 9 2\r\n\r\n", 1)
            assert termios.tcgetattr(self.slave) == self.settings, "settings not restored"
            self.left = unread(self.slave)
        assert status == wanted, f"exit status {status}"
        assert self.mode == "stdout-full" or self.shown.startswith(expected) and (
            self.windows or self.shown == expected), f"expected {expected!r}"
        # Wine's server outlives a run by design.
        assert self.windows or subprocess.run(["pgrep", "-g", str(self.proc.pid)]).returncode, \
            "a process left behind"


def main():
    split = sys.argv.index("--")
    table_name, *bound = sys.argv[1:split]
    bound, command = int(bound[0][14:]) if bound else 0, sys.argv[split + 1:]
    if table_name == "cases":
        rows = [(where, "pipe", [f"type {spec}", "close", "exit 0"], int(largest), args)
                for where, spec, largest, args in table("cases.txt", r'^(".*")\s+(-?\d+)\s*(.*)$')]
    else:
        rows = [(f"{where} {sig}".rstrip(), mode, steps.replace("$", sig).split(" | "), 9, "")
                for where, mode, steps, each in table("scenarios.txt", r"^(\S+)\s+(.*?)(?:\s+for (.*))?$")
                for sig in (each or "").split() or [""]]
    # qemu-user keeps some of the host's real-time signals for itself and numbers the program's
    # otherwise, so a real-time signal sent to it is not the program's.
    emulated = [row for row in rows if " RT" in row[0] and Path(command[0]).name.startswith("qemu-")]
    rows = [row for row in rows if row not in emulated]
    print(*(f"{row[0]}: not run under {command[0]}" for row in emulated), sep="\n")
    problems, peak = [], tempfile.NamedTemporaryFile()
    timed = ["time", "-f", "%M", "-o", peak.name] if bound else []
    for ran, (where, mode, steps, largest, args) in enumerate(rows, 1):
        run = Run(mode, [*timed, *command, *shlex.split(args)], largest)
        try:
            for step in steps:
                run.step(*step.split(" ", 1))
            kib = bound and int(Path(peak.name).read_text().split()[-1])
            assert kib <= bound, f"peak memory {kib} KiB"
            assert not run.left, f"{run.left} bytes of input left unread"
            if " " in where:  # one of a row's signals: a line of the table they make
                how = "stopped, went on, then " * (run.pauses > 1) + f"status {run.proc.returncode}"
                print(f"{where}: {how}" + ", the terminal's settings as found" * (mode == "terminal"))
        except (AssertionError, subprocess.TimeoutExpired) as problem:
            problems.append(f"{where}: {problem}; shown {run.shown[:200]!r}")
            if mode.startswith("terminal"):
                break  # the terminal may be unfit for the scenarios after this one
    print(*problems, sep="\n")
    print(f"{ran - len(problems)} passed, {len(problems)} failed, "
          f"{len(rows) - ran + len(emulated)} skipped")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
