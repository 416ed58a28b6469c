#!/usr/bin/env python3
# Runs the program as a pipeline, a person at a terminal or a shell with job control would, and
# checks all it shows.
#
#   dialogue.py cases [--max-rss-kib=N] -- COMMAND...
#   dialogue.py reads --oracle=PROGRAM [--sample=N] -- COMMAND...
#   setsid -w dialogue.py scenarios|shells|keys [--part=K/N] -- COMMAND...
#   setsid -w dialogue.py walk [--seeds=N,...] [--moves=N] [--where=WHERE,...] -- COMMAND...
#
# cases: each row of cases.txt piped in, every run under N KiB of memory at its peak, and but for
# a row marked whole, fed a byte at a time too. From a Windows program (an .exe) lines end in CR
# LF, and what the command processor's pause writes after them is not compared.
# reads: inputs made from the grammar of the read, each from a file: the report and where the read
# left the file held against the oracle's, which reads with the C library's scanf.
# scenarios, shells: each row of that table (of a part, every Nth from the Kth); keys: each key
# keys.txt makes; walk: cat as the oracle of job control, a walk of moves a user and a shell make,
# with cat as the job and with the program at its pause, where the engine is the shell with each
# start-up a parent may give, and under the real shells. These make terminals, so they need a
# session of their own.
import ast
import contextlib
import itertools
import os
import random
import re
import resource
import select
import shlex
import signal
import socket
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
START_UPS = {".mkshrc": "PS1='<$?> '", ".yashrc": "PS1='<$?> '",
             ".zshrc": "setopt prompt_subst; unsetopt prompt_sp; unset zle_bracketed_paste"}
# A bit of each group of modes that no step here depends on.
CHANGES = {"iflag": (0, termios.IMAXBEL), "oflag": (1, termios.TAB3), "cflag": (2, termios.HUPCL),
           "lflag": (3, termios.ECHOCTL)}
PATIENCE = 5  # seconds for what takes milliseconds; only a fault waits longer
# Each read of the terminal held back 0.3 s at its start, so that a key can go before the read
# takes it (+ "-P", the terminal; the program may read it through /dev/tty too).
SLOW_READS = ["strace", "-f", "-qq", "-o", "/dev/null", "--seccomp-bpf", "-e", "trace=read",
              "-e", "inject=read:delay_enter=300000"]
# Where the program has no number to read.
EMPTY = ("fifo", "write-only", "null", "closed", "directory", "zero")
# Moves of a user and a shell, made by the engine as a shell; under a real shell fg, bg and stty are
# typed to it, where it reads, and ctrl-z where the job holds the terminal.
MOVES = {"ctrl-z": 'type "\\x1a"', "stop": "signal STOP", "cont": "signal CONT", "change": "change VINTR",
         "shell": "shell", "fg": "fg", "bg": "bg"}
TYPED = {"shell": 'type "stty intr ^Y\\r"', "fg": 'type "fg\\r"', "bg": 'type "bg\\r"'}


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


# Each key of keys.txt at the ends of its ranges, typed whole and a byte at a time, as rows.
def keys():
    for where, ranges, when in table("keys.txt", r"^(.*?)\s+(soon|later)$"):
        parts = ranges.split()
        spans = sorted({part for part in parts if "-" in part})
        for ends in itertools.product((0, 1), repeat=len(spans)):
            key = ["\\x" + (p.split("-")[ends[spans.index(p)]] if "-" in p else p) for p in parts]
            for apart in {False, len(key) > 1}:
                typed = ('" | delay | type "' if apart else "").join(key)
                yield (f"{where} {''.join(key)}" + " apart" * apart, "terminal-session-quiet",
                       f'await prompt | type "5 9 2\\r" | await key-mode | type "{typed}" | '
                       f'{"await taken | delay" if when == "soon" else "await gone"} | type "z" | exit 0 | unread 1')


# Inputs of the read's grammar: every byte at each place of one input given as "1 |-|2|3| +4|"
# (before and between the numbers, after a sign, inside and after the digits, after the third
# number); inputs drawn at random, in range (a tail that would go on with a number has none); and
# one longer than stdio's buffer.
def inputs(base, seed, drawn):
    parts, rng = base.split(b"|"), random.Random(seed)
    yield from (b"".join(parts[:i]) + bytes([b]) + b"".join(parts[i:])
                for i in range(len(parts)) for b in range(256))
    for _ in range(drawn):
        text = b""
        for _ in range(rng.randint(0, 3)):
            number = rng.choice([rng.randint(-2**31, 2**31 - 1), rng.randint(-9, 9)])
            sign = b"-" if number < 0 else rng.choice([b"", b"+"])
            text += bytes(rng.choices(b" \t\n\v\f\r", k=rng.randint(0 if sign or not text else 1, 3)))
            text += sign + b"0" * rng.randint(0, 2) + b"%d" % abs(number)
        yield text + bytes(rng.choices(b"+- \n.x", k=rng.randint(0, 3)))
    yield b"5 9 2ABC" + b"x" * 9000


# The program on each input from a file, its report and where it left the file, against the
# oracle's on all of them (but where on Windows the command processor's pause reads from it too).
def reads(command, oracle, sample, base=b"1 |-|2|3| +4| 5", seed=20261208, drawn=300):
    # Output to a file, not a pipe: Wine's server holds a pipe it inherited open for seconds.
    def run(args, stdin=subprocess.DEVNULL):
        with tempfile.TemporaryFile() as out:
            status = subprocess.run(args, stdin=stdin, stdout=out, stderr=subprocess.STDOUT).returncode
            return out.seek(0) or out.read(), status

    def ours(path):
        with open(path, "rb") as file:
            out, status = run(command, file)
            found = re.search(rb"(-?\d+)\r?\n", out)
            return b"%s %d" % (found[1], os.lseek(file.fileno(), 0, os.SEEK_CUR)) if found else f"status {status}: {out}"

    chosen, windows = list(inputs(base, seed, drawn))[::sample], command[-1].endswith(".exe")
    print(f"{len(chosen)} inputs, one in {sample} of: every byte at each place of {base!r}, {drawn} "
          f"drawn from the grammar with seed {seed}, and a long one")
    with tempfile.TemporaryDirectory() as folder:
        paths = [Path(folder, str(n)) for n in range(len(chosen))]
        for path, text in zip(paths, chosen):
            path.write_bytes(text)
        out, status = run([*command[:-1], oracle, *paths])
        if len(scanf := out.split()) != 2 * len(chosen):
            return print(f"scanf answered {len(scanf) // 2} of them, status {status}: {out[-300:]}") or 1
        problems = [f"{text[:40]!r}: {mine}, but scanf {theirs}" for text, mine, theirs in zip(
            chosen, map(ours, paths), zip(scanf[::2], scanf[1::2])) if mine.split()[:2 - windows] != [*theirs][:2 - windows]]
    print(*problems[:20], sep="\n")
    return 1 if problems else 0


# The job after each move of a seeded walk, once settled: running (holding the terminal, or not and
# the terminal as its holder left it), stopped (by which signal, where the engine is the job's
# parent), or ended. Returns those, and the CPU time in ms the job took meanwhile.
def walk(where, command, seed, moves):
    rng, run, seen = random.Random(seed), Run(where, command, 9), []
    for step in ["run"] * bool(run.shell) + (["await asleep"] if command == ["cat"] else
                                             ["await prompt", 'type "5 9 2\\r"', "await key-mode"]):
        run.step(*step.split(" ", 1))
    pid = run.pid()
    holds = lambda: os.tcgetpgrp(run.into) == os.getpgid(pid)

    def look():
        if (state := run.state()) in (False, "Z"):
            return "ended"
        if state not in "Tt":
            return "running, " + ("holding the terminal" if holds() else "the settings " + (
                "its holder's" if termios.tcgetattr(run.slave) == run.holder else "another's"))
        with contextlib.suppress(ChildProcessError):  # not the engine's child
            # Not yet reported in the instant between the last thread's stop and its report.
            stop = os.waitid(os.P_PID, pid, os.WSTOPPED | os.WNOHANG | os.WNOWAIT)
            return "stopped by " + signal.Signals(stop.si_status).name if stop else "stopping"
        return "stopped"

    cpu = lambda: int(Path(f"/proc/{pid}/schedstat").read_text().split()[0]) / 1e6
    start = spent = cpu()
    for _ in range(moves):
        move = rng.choice([m for m in MOVES if (m != "shell" or run.state() in ("T", "t")) and (
            not run.shell or m in ("stop", "cont", "change") or (m == "ctrl-z") == holds())])
        run.step(*(run.shell and TYPED.get(move) or MOVES[move]).split(" ", 1))
        looks = [look()]
        while len(looks) < 8 or len(set(looks[-8:])) > 1:  # as it was over the last 80 ms
            looks.append(run.read(0.01) or look())
        seen.append(f"{move}: {looks[-1]}")
        if looks[-1] == "ended":
            break
        spent = cpu()
    run.clean()
    return seen, spent - start


# One run of the program, its input fed step by step. Its stderr goes to a file: Wine's server
# lingers for seconds with the pipes it inherited.
class Run:
    terminal = []  # master, slave, settings: one for all, as a session has one

    def __init__(self, mode, command, largest):
        self.mode, self.proc, self.shown, self.screen, self.echo, self.keyed = mode, None, b"", b"", b"", 0
        # hung: the terminal hung up, so no line end after the pause, no settings to compare.
        self.hung, self.piped_out = False, mode in ("terminal-piped-out", "terminal-out-other")
        self.lost = False  # the terminal taken from the job: it ends writing nothing more
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
        text = b"\nUnesite 3 broja:\nNajveci broj je: %d\n" % (-2**31 if mode in EMPTY else largest)
        self.expected = text.replace(b"\n", b"\r\n") if windows else text + PAUSE + b"\n"
        self.folder, self.err = tempfile.TemporaryDirectory(), tempfile.TemporaryFile()
        self.io, self.outs, self.theirs = {"stderr": self.err}, {}, []
        if self.at_terminal:
            if self.own_session:  # a terminal of its own, for the session the program leads
                self.session = [*(pair := os.openpty()), termios.tcgetattr(pair[1])]
            elif not self.terminal:
                master, slave = os.openpty()
                ioctl(slave, termios.TIOCSCTTY, 0)
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                self.terminal += master, slave, termios.tcgetattr(slave)
            self.into, self.slave, self.settings = getattr(self, "session", self.terminal)
            if mode.endswith("-quiet"):  # no echo, as a shell's line editor holds the terminal
                self.settings = [*self.settings[:3], self.settings[3] & ~termios.ECHO, *self.settings[4:]]
            if width := re.search(r"-width-(\d+)$", mode):
                ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("4H", 24, int(width[1]), 0, 0))
            # Each job starts with the settings the tests found, as a shell gives them.
            termios.tcsetattr(self.slave, termios.TCSANOW, self.settings)
            self.holder = self.settings  # as whoever holds the terminal left its settings
            self.io = dict.fromkeys(("stdin", "stdout", "stderr"), self.slave)
            if mode.endswith("-slow-reads"):
                command = [*SLOW_READS, "-P", os.ttyname(self.slave), "-P", "/dev/tty", *command]
            if way := re.search(r"-orphaned-(exit|wait)", mode):  # the script then exits, or waits
                command = ["sh", "-c", f'sh -c \'"$@" </dev/tty & {way[1]}\' sh "$@" & exit', "sh", *command]
            self.outs[self.into] = "shown"
        elif mode.startswith("fifo"):  # one that no one ever opened to write, or that the test did
            os.mkfifo(path := Path(self.folder.name, "fifo"))
            self.io["stdin"] = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
            self.into = mode == "fifo-written" and os.open(path, os.O_WRONLY)
            os.set_blocking(self.io["stdin"], True)
        elif mode == "socket":  # one end of a stream socket pair, the test writing at the other
            self.into, self.io["stdin"] = (end.detach() for end in socket.socketpair())
        elif mode in ("nonblocking", "trickle"):  # a pipe, its reading end left non-blocking
            self.io["stdin"], self.into = os.pipe()
            os.set_blocking(self.io["stdin"], False)
            self.theirs.append(self.io["stdin"])
        elif mode in EMPTY[2:]:  # closed when the program starts
            path = {"zero": "/dev/zero", "directory": "/"}.get(mode, "/dev/null")
            self.io["stdin"] = os.open(path, os.O_RDONLY)
        elif mode != "write-only":
            self.io["stdin"] = subprocess.PIPE
        if mode == "stdout-full":
            self.io["stdout"] = open("/dev/full", "wb")
        elif "stdout" not in self.io or self.piped_out:
            if self.outs:
                self.outs[self.into] = "screen"
            out, self.io["stdout"] = os.openpty() if mode == "terminal-out-other" else os.pipe()
            self.outs[out] = "shown"
            self.theirs += [self.io["stdout"]] * (mode != "terminal-out-other")
            if mode == "write-only":  # stdin is the end of its output pipe: largest <&1 | cat
                self.io["stdin"] = self.io["stdout"]
        self.command = self.shell or command

    # The start-ups a parent may give, by env; a session of its own, its terminal the controlling
    # one or not, by setsid; no stdin, by sh. Each runs what comes next in the process it has, so
    # only a foreground job at the engine's own terminal is made so in the child, before it runs.
    def start(self):
        how = {"ignoring": "ignore", "blocking": "block"}  # and SIGTTOU that the engine ignores
        wrap = [f"--{how[verb]}-signal={name.upper()}" for verb, name in re.findall(r"-(ignoring|blocking)-(\w+)", self.mode)]
        wrap = ["env", "--default-signal=TTOU", *wrap] if wrap or self.terminal else []
        wrap += ["setsid", *["--ctty"] * ("no-ctty" not in self.mode)] if self.own_session else []
        wrap += ["sh", "-c", 'exec "$@" <&-', "sh"] if self.mode == "closed" else []
        env = {**os.environ, "PS1": "<$?> ", "TERM": "dumb", "HOME": self.folder.name}
        for name, text in START_UPS.items() if self.shell else ():
            Path(self.folder.name, name).write_text(text + "\n")
        self.proc = subprocess.Popen(
            [*wrap, *self.command], **self.io, process_group=None if self.own_session else 0,
            cwd=self.folder.name, env={k: v for k, v in env.items() if k != "ENV"},
            preexec_fn=(lambda: os.tcsetpgrp(0, os.getpgrp())) if self.at_terminal and not self.own_session else None)
        if self.proc.stdin:
            self.into = self.proc.stdin.fileno()
        for fd in self.theirs:  # the program's end of its stdin or stdout pipe is its own
            os.close(fd)

    def read(self, wait=0):
        while ready := select.select(list(self.outs), [], [], wait)[0]:
            for fd in ready:
                if chunk := os.read(fd, 4096):
                    setattr(self, self.outs[fd], getattr(self, self.outs[fd]) + chunk)
                else:
                    del self.outs[fd]

    def until(self, condition, what, every=0.005, patience=PATIENCE):
        deadline = time.monotonic() + patience
        while not condition():
            assert time.monotonic() < deadline, f"{what}: not so in {patience} s, but {self.state()!r}"
            self.read(every)

    # Every process in the run's session: its id, state, parent, group, and command line.
    def processes(self):
        for stat in Path("/proc").glob("[0-9]*/stat"):
            with contextlib.suppress(OSError):  # gone meanwhile
                state, parent, group, session = stat.read_text().rsplit(") ", 1)[1].split()[:4]
                if int(session) == os.getsid(self.proc.pid):
                    yield int(stat.parent.name), state, int(parent), int(group), \
                        stat.with_name("cmdline").read_bytes().split(b"\0")[:-1]

    def find(self, command):  # the process that runs the command, if any
        return next((pid for pid, *_, line in self.processes() if line == [*map(os.fsencode, command)]), None)

    def pid(self):  # the program's; where strace or a real shell starts it, the one in its session
        if self.command != self.program and not self.program_pid:
            self.program_pid = self.find(self.program)
        return self.program_pid or (None if self.shell else self.proc.pid)

    def clean(self):  # kills what a failed run left of the session or group it started
        for pid, _, _, group, _ in self.processes():
            os.kill(pid, signal.SIGKILL) if self.own_session or group == self.proc.pid else None

    def read_bytes(self):  # that the program has read
        with contextlib.suppress(OSError):
            return int(re.search(rb"rchar: (\d+)", Path(f"/proc/{self.pid()}/io").read_bytes())[1])

    # A process's state, the program's by default; False once it has gone. Stopped or ended only
    # once every thread has (qemu-user runs two): only then is its parent told, so that a shell's
    # fg continues it and a shell that waits goes on. A tracing stop, "t", is a thread's own.
    def state(self, pid=0):
        def of(stat):
            with contextlib.suppress(OSError):  # gone meanwhile
                return stat.read_text().rsplit(") ", 1)[1][0]
        proc = Path(f"/proc/{pid if pid != 0 else self.pid()}")
        main, threads = of(proc / "stat"), {of(stat) for stat in proc.glob("task/*/stat")}
        return main is not None and ("R" if main in "TZ" and threads - {main, None} else main)

    # The real shell's, the last on the screen but for busybox's question where the cursor is, new
    # since the mark. Not always at the start of a line: a shell's prompt follows what a job killed
    # at the pause left on its line, and what was typed in key mode shows nothing.
    def prompt(self):
        shown = re.search(rb"<(\d+)> (?:\x1b\[6n)?$", self.shown)
        return shown if shown and shown.start(1) > self.mark else None

    def at_prompt(self):  # the real shell's, with the settings that shell had at its last one
        settings = self.prompt() and termios.tcgetattr(self.slave)
        return settings and self.prompts.setdefault(os.tcgetpgrp(self.into), settings) == settings

    def key_mode(self):  # the pause's: -icanon -echo -ixon, which no shell sets
        iflag, _, _, lflag, *_ = termios.tcgetattr(self.slave)
        return not (lflag & (termios.ICANON | termios.ECHO) or iflag & termios.IXON)

    def hold(self, settings, group):  # as a shell gives the terminal to a job, or takes it back
        termios.tcsetattr(self.slave, termios.TCSANOW, settings)
        os.tcsetpgrp(self.slave, group)
        self.holder, self.lost = termios.tcgetattr(self.slave), group != self.proc.pid

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
        if not self.proc:
            self.start()
        waits = lambda: self.state() in ("S", "Z", False)  # for a byte, or at its end
        if verb == "type" and self.mode == "trickle":  # a byte at a time, as the program waits
            self.typed, self.fed = data(arg), 0
            while self.fed < len(self.typed) and (self.until(waits, "waiting", 0.001) or self.state() == "S"):
                self.press(self.typed[self.fed:self.fed + 1])
                self.fed += 1
            self.until(waits, "waiting for the end")
        elif verb == "fed":  # it took what it takes of a file, and the pause one byte more
            with tempfile.TemporaryFile() as file:
                file.write(self.typed)
                subprocess.run(self.program, stdin=file.seek(0) or file, capture_output=True)
                taken = os.lseek(file.fileno(), 0, os.SEEK_CUR)
            assert self.fed == min(len(self.typed), taken + 2), f"took {self.fed}, of a file {taken}"
        elif verb == "type":
            typed = data(arg)
            if self.at_terminal and PAUSE not in self.shown and self.settings[3] & termios.ECHO:
                self.echo += typed.replace(b"\r", b"\r\n").replace(b"\x04", b"")
            self.keyed += len(typed) * (PAUSE in self.shown)
            self.press(typed)
        elif verb in ("run", "script", "nest", "stty"):  # typed to the shell at its prompt
            # stty may mend the settings a killed program left, and changes the shell's own
            self.until(self.prompt, "shell") if verb == "stty" else self.step("await", "shell")
            program = shlex.join(self.program)
            line = {"run": f"{program} {arg}", "script": f"sh -c {shlex.quote(program + ' ' + arg)}",
                    "stty": f"stty {arg}"}.get(verb) or shlex.join(SHELLS[arg])
            self.press(line.encode() + b"\r")
            if verb in ("nest", "stty"):
                self.prompts = self.prompts if verb == "nest" else {}
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
        elif verb == "delay":  # 20 ms, or the ms given
            time.sleep(int(arg or 20) / 1000)
        elif verb == "close":  # the end of the input; "close output": its reader gone
            fd = next(fd for fd, name in self.outs.items() if name == "shown") if arg else self.into
            self.proc.stdin.close() if self.proc.stdin and not arg else os.close(fd)
            self.outs.pop(fd, None)
        elif verb == "signal":  # to the program; NAME shell, NAME session: to a real shell
            name, _, whom = arg.partition(" ")
            self.press(b"")  # nothing typed; what shows from here on comes of the signal
            pid = self.proc.pid if whom == "session" else self.pid()
            if whom == "shell":  # the one that runs the program
                pid = next(parent for child, _, parent, *_ in self.processes() if child == pid)
            os.kill(pid, signum(name))
        elif verb == "flush":  # what is typed and not yet read goes, as another reader takes it
            termios.tcflush(self.slave, termios.TCIFLUSH)
        elif verb == "hang":  # up: the terminal closes
            self.hung = os.close(self.into) or self.outs.pop(self.into)
        elif verb == "shell":  # takes the terminal back, with readline's settings
            self.hold([self.settings[0] & ~(termios.ICRNL | termios.INLCR), *self.settings[1:3],
                       self.settings[3] & ~(termios.ECHO | termios.ICANON), *self.settings[4:]], os.getpgrp())
        elif verb in ("fg", "bg"):  # "fg keys": with the key mode the pause had set, which is not
            if verb == "fg":  # the holder's (so a shell may give back what it saw at a stop)
                self.hold(self.keys if arg else self.settings, self.proc.pid)
                self.holder = self.settings
            os.killpg(self.proc.pid, signal.SIGCONT)
        elif verb == "change":  # someone else changes a part of the settings: it must stay so
            # once the pause waits or has stopped, not while it sets them (slow under an emulator)
            self.until(lambda: self.state() != "R", "not running")
            settings = termios.tcgetattr(self.slave)
            if arg in CHANGES:
                settings[CHANGES[arg][0]] ^= CHANGES[arg][1]
            else:  # a control character: to ^X, VMIN to 0, VTIME to 1
                settings[6][getattr(termios, arg)] = {"VMIN": 0, "VTIME": 1}.get(arg, b"\x18")
            termios.tcsetattr(self.slave, termios.TCSANOW, settings)
            self.holder = termios.tcgetattr(self.slave)
        elif verb == "await":  # "WHAT within N ms": so soon, where it must be
            arg, within = re.fullmatch(r"(.*?)(?: within (\d+) ms)?", arg).groups()
            self.again += arg == "again"
            held = lambda: termios.tcgetattr(self.slave) == self.holder
            conditions = {
                "prompt": lambda: b"Unesite 3 broja:" in self.shown,
                # The text first: a signal key flushes what is not yet read. Then the pause waits,
                # done with the settings: a stop as it sets them leaves it to read them after.
                "key-mode": lambda: (PAUSE in self.shown or self.shell) and self.key_mode() and self.state() != "R",
                "again": lambda: self.key_mode() and self.again == (
                    self.screen if self.piped_out else self.shown).count(b"\r" + PAUSE),
                "pause": lambda: PAUSE in self.shown,
                "asleep": lambda: self.state() == "S",
                "gone": lambda: self.state() in (False, "Z"),
                # Every byte typed at the pause read, or the program gone.
                "taken": lambda: self.state() in (False, "Z") or self.read_bytes() >= self.keyed,
                "waiting": lambda: self.state() == "S" and held(),
                "shell": self.at_prompt,
                "back": self.prompt,
                "reading": lambda: self.state() == "t",
                # Under strace a stop is a tracing stop: "t".
                "frozen": lambda: self.state() in ("T", "t"),
                "stopped": lambda: self.state() in ("T", "t") and held()}
            if arg.startswith('"'):  # that text shown
                conditions[arg] = lambda: data(arg) in self.shown
            self.until(conditions[arg], arg, patience=int(within) / 1000 if within else PATIENCE)
            if arg == "key-mode":
                self.keys, self.keyed = termios.tcgetattr(self.slave), self.read_bytes()
            if arg == "shell":
                self.status, self.holder = int(self.prompt()[1]), termios.tcgetattr(self.slave)
        elif verb == "unread":  # how many bytes of the input are left in the pipe or terminal
            queue = self.io["stdin"] if self.mode == "socket" else self.into  # the reader's end
            left = self.drain() if self.at_terminal else struct.unpack("i", ioctl(queue, termios.FIONREAD, bytes(4)))[0]
            assert left == int(arg), f"{left} bytes of the input left"
        else:
            assert verb == "exit", f"no step {verb}"
            self.finish(int(arg) if arg.lstrip("-").isdigit() else -signum(arg))

    # What every run leaves: the whole dialogue shown, nothing on stderr, the terminal as found
    # with no input left, and no process behind. Under a real shell: the shell's prompt on a line
    # of its own, with the status and the settings it must have; the shell then exits.
    def finish(self, wanted):
        if self.shell and self.proc.poll() is None:  # else the row ended it: its last status stands
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
        # the first process reaps it, which some containers' never do. A script whose job has just
        # ended is given the time to end too.
        self.until(lambda: self.windows or subprocess.run(
            ["pgrep", "-r", "D,R,S,T,t", "-s" if self.own_session else "-g", str(self.proc.pid)],
            stdout=subprocess.DEVNULL).returncode, "no process left behind", patience=1)
        # Stderr first: where Wine cannot start, it says why there.
        assert not (err := self.err.seek(0) or self.err.read()), f"stderr {err!r}"
        self.status = self.status if self.shell else status
        assert self.status == wanted, f"exit status {self.status}"
        if self.shell:
            return
        again = (b"\r" + PAUSE) * self.again  # each time drawn again on the terminal
        expected = self.expected.replace(PAUSE, PAUSE + again * (self.at_terminal and not self.piped_out))
        if status != 0 or self.hung or self.lost:  # ended by a signal, or cut off: up to the pause's text, or the prompt
            expected = expected[:expected.rindex(PAUSE) + len(PAUSE) if PAUSE in self.shown
                                else expected.index(b":") + 1]
        if self.at_terminal:  # what was typed at the prompt is echoed
            other = self.mode == "terminal-out-other"  # ends the line the text is drawn again on
            if self.piped_out:  # where a pipe's reader does not
                assert self.screen == self.echo + again + b"\r\n" * (other and self.again > 0), \
                    f"on the screen {self.screen!r}"
            if other or not self.piped_out:
                expected = expected.replace(b"\n", b"\r\n").replace(
                    b":\r\n", b":" + self.echo * (not other) + b"\r\n", 1)
            assert self.hung or termios.tcgetattr(self.slave) == self.holder, "settings not restored"
        assert self.mode == "stdout-full" or self.shown.startswith(expected) and (
            self.windows or self.shown == expected), f"expected {expected!r}"


# Each walk, with cat and with the program; where SIGTTIN is switched off, cat ends at a read in
# the background, where the pause waits.
def walks(command, seeds, moves, places):
    signal.signal(signal.SIGTSTP, signal.SIG_IGN)  # Ctrl-Z typed while the engine holds the terminal
    problems = []
    for seed, where in itertools.product(map(int, seeds.split(",")), places.split(",")):
        (cat, _), (ours, spent) = (walk(where, job, seed, moves) for job in (["cat"], command))
        print(f"{where}, seed {seed}: " + "; ".join(ours) + f"; {spent:.1f} ms of CPU")
        problems += [f"{where}, seed {seed}, move {n}: {mine}, but cat {theirs}"
                     for n, (theirs, mine) in enumerate(zip(cat, ours), 1) if theirs != mine and not (
                         "-TTIN" in where and theirs.endswith(": ended") and ": running" in mine)][:1]
        problems += [f"{where}: {spent:.1f} ms of CPU while it waited"] * (spent > 20)
    print(*problems, sep="\n")
    return 1 if problems else 0


def main():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # a core-dumping signal leaves no file
    split = sys.argv.index("--")
    table_name, command = sys.argv[1], sys.argv[split + 1:]
    options = dict(re.match(r"--([\w-]+)=(.*)", option).groups() for option in sys.argv[2:split])
    bound = int(options.get("max-rss-kib", 0))
    part, parts = map(int, options.get("part", "1/1").split("/"))  # every Nth row, from the Kth
    if table_name == "reads":
        return reads(command, options["oracle"], int(options.get("sample", 1)))
    if table_name == "walk":
        return walks(command, options.get("seeds", "1"), int(options.get("moves", 12)),
                     options.get("where", "terminal"))
    if table_name == "cases":  # Windows's pause reads stdin too
        rows = [row for where, spec, largest, args, whole in table(
                    "cases.txt", r'^(".*")\s+(-?\d+)\s*(.*?)\s*(whole)?$')
                for row in [(where, "pipe", f"type {spec} | close | exit 0", int(largest), args)] +
                [(f"{where} a byte at a time", "trickle", f"type {spec} | close | exit 0 | fed",
                  int(largest), args)] * (not whole and not command[-1].endswith(".exe"))]
    elif table_name == "keys":
        rows = [(where, mode, steps, 9, "") for where, mode, steps in keys()]
    else:
        # On one processor, the scenarios' first part and the shells' or the second part each
        # their own where there are two, so that a race the program could lose to a shell is lost
        # every time.
        cpus = sorted(os.sched_getaffinity(0))
        os.sched_setaffinity(0, {cpus[-(table_name == "shells" or part == 2)]})
        rows = [(f"{where} {sig}".rstrip(), mode.replace("$", sig), re.sub(r"\$(?![?\w])", sig, steps),
                 9, "") for where, mode, steps, each in table(f"{table_name}.txt", r"^(\S+)\s+(.*?)(?:\s+for (.*))?$")
                for sig in (each or "").split() or [""]]
    rows = rows[part - 1::parts]
    # qemu-user keeps some of the host's real-time signals for itself and numbers the program's
    # otherwise, so a real-time signal sent to it is not the program's; and it reports a signal
    # that dumps core on stderr, as the program does not.
    emulated = [row for row in rows if re.search(" (RT|ABRT|BUS|FPE|ILL|SEGV|TRAP)", row[0])
                and Path(command[0]).name.startswith("qemu-")]
    rows = [row for row in rows if row not in emulated]
    print(*(f"{row[0]}: not run under {command[0]}" for row in emulated), sep="\n")
    problems, peak = [], tempfile.NamedTemporaryFile()
    for ran, (where, mode, steps, largest, args) in enumerate(rows, 1):
        timed = ["time", "-f", "%M", "-o", peak.name] if bound and mode == "pipe" else []
        run = Run(mode, [*timed, *command, *shlex.split(args)], largest)
        try:
            for step in steps.split(" | "):
                run.step(*step.split(" ", 1))
            kib = int(Path(peak.name).read_text().split()[-1]) if timed else 0
            assert kib <= bound, f"peak memory {kib} KiB"
            if run.at_terminal and not run.hung:
                run.step("unread", "0")
            if " " in where:  # one of a row's signals: a line of the table they make
                how = "stopped, went on, then " * (run.again > 0) + f"status {run.status}"
                print(f"{where}: {how}" + ", the terminal's settings as found" * (mode == "terminal"))
        except (AssertionError, subprocess.TimeoutExpired) as problem:
            problems.append(f"{where}: {problem}; shown {run.shown[:200]!r}")
            run.proc and run.clean()
            if run.at_terminal:
                break  # the terminal may be unfit for the scenarios after this one
    print(*problems, sep="\n")
    print(f"{ran - len(problems)} passed, {len(problems)} failed, "
          f"{len(rows) - ran + len(emulated)} skipped")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
