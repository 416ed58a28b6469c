#!/usr/bin/env python3
# Runs the program as a pipeline, a person at a terminal or a shell with job control would, and
# checks all it shows.
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
import resource
import select
import shlex
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
from fcntl import ioctl
from pathlib import Path

PAUSE = b"Press any key to continue . . . "
# The real shells, interactive, each with no start-up file but the prompt "<$?> " that its home's
# holds, where it takes none from the environment: zsh's without its line-end mark and bracketed
# paste, which would stand between a line end and the prompt.
SHELLS = {"bash": ["bash", "--norc", "-i"], "dash": ["dash", "-i"], "zsh": ["zsh", "-i"],
          "mksh": ["mksh", "-i"], "busybox": ["busybox", "sh", "-i"], "yash": ["yash", "-i"]}
# A bit of each group of modes that no step here depends on.
CHANGES = {"iflag": (0, termios.IMAXBEL), "oflag": (1, termios.TAB3), "cflag": (2, termios.HUPCL),
           "lflag": (3, termios.ECHOCTL)}
START_UPS = {".mkshrc": "PS1='<$?> '", ".yashrc": "PS1='<$?> '",
             ".zshrc": "setopt prompt_subst; unsetopt prompt_sp; unset zle_bracketed_paste"}
PATIENCE = 5  # seconds for what takes milliseconds; only a fault waits longer
# Each read of the terminal held back 0.3 s at its start, so that a key can go before the read
# takes it (+ "-P", the terminal; the program may read it through /dev/tty too).
SLOW_READS = ["strace", "-f", "-qq", "-o", "/dev/null", "--seccomp-bpf", "-e", "trace=read",
              "-e", "inject=read:delay_enter=300000"]


# Bytes written as "..." with Python's escapes, each maybe repeated (*N).
def data(spec):
    return b"".join(ast.literal_eval("b" + part) * int(times or 1)
                    for part, times in re.findall(r'(".*?")(?:\*(\d+))?', spec))


def table(name, row):
    lines = (Path(__file__).parent / name).read_text().splitlines()
    return [(f"{name}:{n}", *re.match(row, line).groups())
            for n, line in enumerate(lines, 1) if line.strip() and line[0] != "#"]


def signum(name):  # TERM, RTMIN+1
    return getattr(signal, "SIG" + name.partition("+")[0]) + int(name.partition("+")[2] or 0)


# One run of the program, its input fed step by step. Its stderr goes to a file: Wine's server
# lingers for seconds with the pipes it inherited.
class Run:
    terminal = []  # master, slave, settings: one for all, as a session has one

    def __init__(self, mode, command, largest):
        self.mode, self.proc, self.shown, self.screen, self.echo = mode, None, b"", b"", b""
        # hung: the terminal hung up, so no line end after the pause, no settings to compare.
        self.hung, self.piped_out = False, mode == "terminal-piped-out"
        # A real shell, interactive; it runs the program where the row says.
        self.shell = SHELLS.get(mode)
        # At a terminal; in a session of its own, as a terminal window's process or a shell.
        self.at_terminal, self.own_session = (
            mode.startswith(kind) or bool(self.shell) for kind in ("terminal", "terminal-session"))
        # How much had been shown when the row last typed or sent a signal; each real shell's
        # settings at its prompt, by its process group; times the pause's text is drawn again;
        # the program, which strace or a real shell may start, and its process once found.
        self.mark, self.prompts, self.again, self.program, self.program_pid = 0, {}, 0, command, None
        self.windows = windows = any(word.endswith(".exe") for word in command)
        if mode in ("fifo", "write-only"):  # input that has ended before it began
            largest = -2**31
        text = b"\nUnesite 3 broja:\nNajveci broj je: %d\n" % largest
        self.expected = text.replace(b"\n", b"\r\n") if windows else text + PAUSE + b"\n"
        self.folder, self.err = tempfile.TemporaryDirectory(), tempfile.TemporaryFile()
        self.io, self.outs, self.theirs = {"stderr": self.err}, {}, []
        if self.at_terminal:
            if self.own_session:  # a terminal of its own, for the session the program leads
                master, slave = os.openpty()
                self.session = [master, slave, termios.tcgetattr(slave)]
            elif not self.terminal:
                master, slave = os.openpty()
                ioctl(slave, termios.TIOCSCTTY, 0)
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                self.terminal += master, slave, termios.tcgetattr(slave)
            self.into, self.slave, self.settings = getattr(self, "session", self.terminal)
            if width := re.search(r"-width-(\d+)$", mode):
                ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("4H", 24, int(width[1]), 0, 0))
            # Each job starts with the settings the tests found, as a shell gives them.
            termios.tcsetattr(self.slave, termios.TCSANOW, self.settings)
            self.holder = self.settings  # as whoever holds the terminal left its settings
            self.io = dict.fromkeys(("stdin", "stdout", "stderr"), self.slave)
            if mode.endswith("-slow-reads"):
                command = [*SLOW_READS, "-P", os.ttyname(self.slave), "-P", "/dev/tty", *command]
            self.outs[self.into] = "shown"
        elif mode == "file":  # what the row types is in the file before the program starts
            path = Path(self.folder.name, "input")
            self.into = os.open(path, os.O_WRONLY | os.O_CREAT)
            self.io["stdin"] = os.open(path, os.O_RDONLY)
        elif mode == "fifo":  # one that no one ever opened to write
            os.mkfifo(path := Path(self.folder.name, "fifo"))
            self.io["stdin"] = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
            os.set_blocking(self.io["stdin"], True)
        elif mode != "write-only":
            self.io["stdin"] = subprocess.PIPE
        if mode == "stdout-full":
            self.io["stdout"] = open("/dev/full", "wb")
        elif "stdout" not in self.io or self.piped_out:
            if self.outs:
                self.outs[self.into] = "screen"
            out, self.io["stdout"] = os.pipe()
            self.outs[out] = "shown"
            self.theirs.append(self.io["stdout"])
            if mode == "write-only":  # stdin is the end of its output pipe: largest <&1 | cat
                self.io["stdin"] = self.io["stdout"]
        self.command = self.shell or command

    def start(self):
        session = {"start_new_session": True} if self.own_session else {"process_group": 0}
        if self.shell:
            for name, text in START_UPS.items():
                Path(self.folder.name, name).write_text(text + "\n")
            env = {**os.environ, "PS1": "<$?> ", "TERM": "dumb", "HOME": self.folder.name}
            session.update(cwd=self.folder.name, env={k: v for k, v in env.items() if k != "ENV"})
        self.proc = subprocess.Popen(self.command, **self.io, **session, preexec_fn=self.in_child)
        if self.proc.stdin:
            self.into = self.proc.stdin.fileno()
        for fd in self.theirs:  # the program's end of its stdout pipe is its own
            os.close(fd)

    def in_child(self):
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # a core-dumping signal leaves no file
        if self.own_session and "no-ctty" not in self.mode:  # its controlling terminal
            ioctl(0, termios.TIOCSCTTY, 0)
        elif self.at_terminal and not self.own_session:  # the foreground job, as a shell makes it
            os.tcsetpgrp(0, os.getpgrp())
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        for how, name in re.findall(r"-(ignoring|blocking)-(\w+)", self.mode):
            signal.pthread_sigmask(signal.SIG_BLOCK, [signum(name.upper())]) if how == "blocking" \
                else signal.signal(signum(name.upper()), signal.SIG_IGN)
        os.set_blocking(0, self.mode != "nonblocking")

    def read(self, wait=0):
        while ready := select.select(list(self.outs), [], [], wait)[0]:
            for fd in ready:
                if chunk := os.read(fd, 4096):
                    setattr(self, self.outs[fd], getattr(self, self.outs[fd]) + chunk)
                else:
                    del self.outs[fd]

    def until(self, condition, what):
        deadline = time.monotonic() + PATIENCE
        while not condition():
            assert time.monotonic() < deadline, f"{what}: not so in {PATIENCE} s"
            self.read(0.005)

    def find(self, command):  # the process in the run's session that runs the command, if any
        for path in Path("/proc").glob("[0-9]*/cmdline"):
            with contextlib.suppress(OSError):  # gone meanwhile
                pid = int(path.parent.name)
                if os.getsid(pid) == os.getsid(self.proc.pid) and \
                        path.read_bytes().split(b"\0")[:-1] == [*map(os.fsencode, command)]:
                    return pid

    def pid(self):  # the program's; where strace or a real shell starts it, the one in its session
        if self.command != self.program and not self.program_pid:
            self.program_pid = self.find(self.program)
        return self.program_pid or (None if self.shell else self.proc.pid)

    def clean(self):  # kills what a failed run left of the session or group it started
        for stat in Path("/proc").glob("[0-9]*/stat"):
            with contextlib.suppress(OSError):  # gone meanwhile
                if int(stat.read_text().rsplit(") ", 1)[1].split()[3 if self.own_session else 2]) == \
                        self.proc.pid:
                    os.kill(int(stat.parent.name), signal.SIGKILL)

    def state(self, pid=0):  # a process's, the program's by default: False once it has gone
        stat = Path(f"/proc/{pid if pid != 0 else self.pid()}/stat")
        return pid is not None and stat.exists() and stat.read_text().rsplit(") ", 1)[1][0]

    # The real shell's, the last on the screen but for busybox's question where the cursor is, new
    # since the mark. Not always at the start of a line: a shell's prompt follows what a job killed
    # at the pause left on its line, and what was typed in key mode shows nothing.
    def prompt(self):
        shown = re.search(rb"<(\d+)> (?:\x1b\[6n)?$", self.shown)
        return shown if shown and shown.start(1) > self.mark else None

    def at_prompt(self):  # the real shell's, with the settings that shell had at its last one
        if not self.prompt():
            return False
        settings = termios.tcgetattr(self.slave)
        return self.prompts.setdefault(os.tcgetpgrp(self.into), settings) == settings

    def key_mode(self):  # the pause's: -icanon -echo -ixon, which no shell sets
        iflag, _, _, lflag, *_ = termios.tcgetattr(self.slave)
        return not (lflag & (termios.ICANON | termios.ECHO) or iflag & termios.IXON)

    def hold(self, settings, group):  # as a shell gives the terminal to a job, or takes it back
        termios.tcsetattr(self.slave, termios.TCSANOW, settings)
        os.tcsetpgrp(self.slave, group)
        self.holder = termios.tcgetattr(self.slave)

    # Takes what is left to read at the terminal, as the shell would, and counts it. A read, not
    # FIONREAD, which misses what the terminal has not yet taken in and half a line.
    def drain(self):
        settings = termios.tcgetattr(self.slave)
        reading = [*settings[:3], settings[3] & ~termios.ICANON, *settings[4:6], [*settings[6]]]
        reading[6][termios.VMIN] = reading[6][termios.VTIME] = 0
        if not self.own_session:  # the tests' own terminal: read in the foreground
            os.tcsetpgrp(self.slave, os.getpgrp())
        termios.tcsetattr(self.slave, termios.TCSANOW, reading)
        left = len(os.read(self.slave, 4096))
        termios.tcsetattr(self.slave, termios.TCSANOW, settings)
        return left

    def press(self, keys):  # what shows from here on comes of the keys, or of what goes with them
        self.read()
        self.mark = len(self.shown)
        with contextlib.suppress(BrokenPipeError):  # the program has stopped reading
            os.write(self.into, keys)

    def step(self, verb, arg=""):
        if not self.proc and not (verb == "type" and self.mode == "file"):
            self.start()
        if verb == "type":
            if self.at_terminal and PAUSE not in self.shown:  # at the prompt
                self.echo += data(arg).replace(b"\r", b"\r\n").replace(b"\x04", b"")
            self.press(data(arg))
        elif verb in ("run", "script", "nest", "stty"):  # typed to the shell at its prompt
            if verb == "stty":  # which may mend settings a killed program left
                self.until(self.prompt, "shell")
            else:
                self.step("await", "shell")
            program = shlex.join(self.program)
            line = {"run": f"{program} {arg}", "script": f"sh -c {shlex.quote(program + ' ' + arg)}",
                    "stty": f"stty {arg}"}.get(verb) or shlex.join(SHELLS[arg])
            self.press(line.encode() + b"\r")
            if verb == "stty":  # which changes the settings the shell has at its prompt
                self.prompts.clear()
            if verb in ("nest", "stty"):
                self.step("await", "shell")
        elif verb == "idle":  # the program runs only when nothing else would: a shell reads first
            os.sched_setscheduler(self.pid(), os.SCHED_IDLE, os.sched_param(0))
        elif verb == "dd":  # a command the shell runs reads a key of the terminal: it waits, and gets it
            self.press(b"dd bs=1 count=1 2>/dev/null|tr a-z A-Z\r")
            # Asleep in its read; else its read returned at once, and the shell reads again.
            self.until(lambda: self.state(self.find(["dd", "bs=1", "count=1"])) == "S" or self.prompt(),
                       "dd reading")
            self.press(b"q\r")
            self.until(lambda: b"Q" in self.shown[self.mark:], "dd's key")
        elif verb == "delay":
            time.sleep(0.02)  # less than the time the bytes of one key may come apart
        elif verb == "close":  # the end of the input; "close output": its reader gone
            if arg:
                out = next(fd for fd, name in self.outs.items() if name == "shown")
                os.close(out)
                del self.outs[out]
            else:
                self.proc.stdin.close()
        elif verb == "signal":  # to the program; NAME shell, NAME session: to a real shell
            name, _, whom = arg.partition(" ")
            self.press(b"")  # nothing typed; what shows from here on comes of the signal
            pid = self.proc.pid if whom == "session" else self.pid()
            if whom == "shell":  # the one that runs the program
                pid = int(Path(f"/proc/{pid}/stat").read_text().rsplit(") ")[1].split()[1])
            os.kill(pid, signum(name))
        elif verb == "flush":  # what is typed and not yet read goes, as another reader takes it
            termios.tcflush(self.slave, termios.TCIFLUSH)
        elif verb == "hang":  # up: the terminal closes
            os.close(self.into)
            del self.outs[self.into]
            self.hung = True
        elif verb == "shell":  # takes the terminal back, with readline's settings
            lflag, iflag = termios.ECHO | termios.ICANON, termios.ICRNL | termios.INLCR
            settings = [self.settings[0] & ~iflag, *self.settings[1:3],
                        self.settings[3] & ~lflag, *self.settings[4:]]
            self.hold(settings, os.getpgrp())
        elif verb in ("fg", "bg"):  # "fg keys": with the key mode the pause had set, which is not
            if verb == "fg":  # the holder's (so a shell may give back what it saw at a stop)
                self.hold(self.keys if arg else self.settings, self.proc.pid)
                self.holder = self.settings
            os.killpg(self.proc.pid, signal.SIGCONT)
        elif verb == "change":  # someone else changes a part of the settings: it must stay so
            settings = termios.tcgetattr(self.slave)
            if arg in CHANGES:
                settings[CHANGES[arg][0]] ^= CHANGES[arg][1]
            else:  # a control character: to ^X, VMIN to 0, VTIME to 1
                settings[6][getattr(termios, arg)] = {"VMIN": 0, "VTIME": 1}.get(arg, b"\x18")
            termios.tcsetattr(self.slave, termios.TCSANOW, settings)
            self.holder = termios.tcgetattr(self.slave)
        elif verb == "await":
            self.again += arg == "again"
            held = lambda: termios.tcgetattr(self.slave) == self.holder
            conditions = {
                "prompt": lambda: b"Unesite 3 broja:" in self.shown,
                # The text first: a signal key flushes what is not yet read.
                "key-mode": lambda: (PAUSE in self.shown or self.shell) and self.key_mode(),
                "again": lambda: self.key_mode() and self.again == (
                    self.screen if self.piped_out else self.shown).count(b"\r" + PAUSE),
                "pause": lambda: PAUSE in self.shown,
                "asleep": lambda: self.state() == "S",
                "gone": lambda: self.state() in (False, "Z"),
                "waiting": lambda: self.state() == "S" and held(),
                "shell": self.at_prompt,
                "back": self.prompt,
                "reading": lambda: self.state() == "t",
                # Under strace a stop is a tracing stop: "t".
                "frozen": lambda: self.state() in ("T", "t"),
                "stopped": lambda: self.state() in ("T", "t") and held()}
            if arg.startswith('"'):  # that text shown
                conditions[arg] = lambda: data(arg) in self.shown
            self.until(conditions[arg], arg)
            if arg == "key-mode":
                self.keys = termios.tcgetattr(self.slave)
            if arg == "shell":
                self.status, self.holder = int(self.prompt()[1]), termios.tcgetattr(self.slave)
        elif verb == "unread":  # how many bytes of the input are left in the pipe or terminal
            left = self.drain() if self.at_terminal else int.from_bytes(
                ioctl(self.into, termios.FIONREAD, bytes(4)), sys.byteorder)
            assert left == int(arg), f"{left} bytes of the input left"
        elif verb == "offset":  # where the program left its input file
            offset = os.lseek(self.io["stdin"], 0, os.SEEK_CUR)
            assert offset == int(arg), f"the input file left at {offset}"
        else:
            assert verb == "exit", f"no step {verb}"
            self.finish(int(arg) if arg.lstrip("-").isdigit() else -signum(arg))

    # What every run leaves: the whole dialogue shown, nothing on stderr, the terminal as found
    # with no input left, and no process behind. Under a real shell: the shell's prompt on a line
    # of its own, with the status and the settings it must have; the shell then exits.
    def finish(self, wanted):
        if self.shell:
            self.step("await", "shell")
            wanted = wanted if wanted >= 0 else 128 - wanted
            # The line the text was drawn again on ended once before the shell's prompt.
            assert not self.again or re.match(rb"\r\n\r?<", self.shown.rsplit(PAUSE, 1)[1]), "line ends"
            out = Path(self.folder.name, "out")  # where the row sent the program's stdout
            assert not out.exists() or out.read_bytes() == self.expected, f"out {out.read_bytes()}"
            os.write(self.into, b"exit\r")
        status = self.proc.wait(PATIENCE)
        self.read()
        # Wine's server outlives a run by design. A zombie is not counted: an orphan's stays until
        # the first process reaps it, which some containers' never do.
        assert self.windows or subprocess.run(["pgrep", "-r", "D,R,S,T,t", "-s" if self.own_session
                                               else "-g", str(self.proc.pid)]).returncode, \
            "a process left behind"
        # Stderr first: where Wine cannot start, it says why there.
        assert not (err := self.err.seek(0) or self.err.read()), f"stderr {err!r}"
        self.status = self.status if self.shell else status
        assert self.status == wanted, f"exit status {self.status}"
        if self.shell:
            return
        again = (b"\r" + PAUSE) * self.again  # each time drawn again on the terminal
        expected = self.expected.replace(PAUSE, PAUSE + again * (self.at_terminal and not self.piped_out))
        if status != 0 or self.hung:  # ended by a signal: up to the pause's text, or the prompt
            expected = expected[:expected.rindex(PAUSE) + len(PAUSE) if PAUSE in self.shown
                                else expected.index(b":") + 1]
        if self.at_terminal:  # what was typed at the prompt is echoed
            if self.piped_out:  # the line the text is drawn again on is ended by the pipe's reader
                assert self.screen == self.echo + again, f"on the screen {self.screen!r}"
            else:
                expected = expected.replace(b"\n", b"\r\n").replace(
                    b":\r\n", b":" + self.echo + b"\r\n", 1)
            assert self.hung or termios.tcgetattr(self.slave) == self.holder, "settings not restored"
        assert self.mode == "stdout-full" or self.shown.startswith(expected) and (
            self.windows or self.shown == expected), f"expected {expected!r}"


def main():
    split = sys.argv.index("--")
    table_name, *bound = sys.argv[1:split]
    bound, command = int(bound[0][14:]) if bound else 0, sys.argv[split + 1:]
    if table_name == "cases":
        rows = [(where, "pipe", [f"type {spec}", "close", "exit 0"], int(largest), args)
                for where, spec, largest, args in table("cases.txt", r'^(".*")\s+(-?\d+)\s*(.*)$')]
    else:
        # On one processor, so that a race the program could lose to a shell is lost every time.
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
        rows = [(f"{where} {sig}".rstrip(), mode.replace("$", sig), steps.replace("$", sig).split(" | "), 9, "")
                for where, mode, steps, each in table("scenarios.txt", r"^(\S+)\s+(.*?)(?:\s+for (.*))?$")
                for sig in (each or "").split() or [""]]
    # qemu-user keeps some of the host's real-time signals for itself and numbers the program's
    # otherwise, so a real-time signal sent to it is not the program's; and it reports a signal
    # that dumps core on stderr, as the program does not.
    emulated = [row for row in rows if re.search(" (RT|ABRT|BUS|FPE|ILL|SEGV|TRAP)", row[0])
                and Path(command[0]).name.startswith("qemu-")]
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
            if run.at_terminal and not run.hung:
                run.step("unread", "0")
            if " " in where:  # one of a row's signals: a line of the table they make
                how = "stopped, went on, then " * (run.again > 0) + f"status {run.status}"
                print(f"{where}: {how}" + ", the terminal's settings as found" * (mode == "terminal"))
        except (AssertionError, subprocess.TimeoutExpired) as problem:
            problems.append(f"{where}: {problem}; shown {run.shown[:200]!r}")
            if run.proc:
                run.clean()
            if run.at_terminal:
                break  # the terminal may be unfit for the scenarios after this one
    print(*problems, sep="\n")
    print(f"{ran - len(problems)} passed, {len(problems)} failed, "
          f"{len(rows) - ran + len(emulated)} skipped")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
