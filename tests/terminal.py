#!/usr/bin/env python3
"""Runs the program at a pseudo-terminal, as a person at a console would.

  terminal.py COMMAND...
"""
import fcntl
import os
import select
import sys
import termios
import time

PROMPT = b"\r\nUnesite 3 broja:"
RESULT = b"\r\nNajveci broj je: 9\r\n"
PAUSE = b"Press any key to continue . . . "


class Terminal:
    def __init__(self, command):
        self.master, self.slave = os.openpty()
        self.pid = os.fork()
        if self.pid == 0:
            os.setsid()
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
            for fd in range(3):
                os.dup2(self.slave, fd)
            os.execvp(command[0], command)
        self.settings = termios.tcgetattr(self.slave)
        self.screen = b""

    def read_until(self, text, start=0, timeout=10):
        """Everything shown so far, once it holds text after start."""
        deadline = time.monotonic() + timeout
        while text not in self.screen[start:]:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError(f"{text!r} not shown; screen: {self.screen!r}")
            self.screen += os.read(self.master, 4096)
        return self.screen

    def quiet_for(self, seconds):
        """Whether nothing more is shown for that long."""
        return not select.select([self.master], [], [], seconds)[0]

    def type(self, keys):
        os.write(self.master, keys)

    def running(self):
        return os.waitpid(self.pid, os.WNOHANG) == (0, 0)

    def exit_status(self, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.02)
        raise AssertionError("the program did not end")

    def settings_kept(self):
        return termios.tcgetattr(self.slave) == self.settings

    def unread_input(self):
        count = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0" * 4)
        return int.from_bytes(count, sys.byteorder)


def session(command, key):
    """Types the numbers, then ends the pause with key."""
    term = Terminal(command)
    assert term.read_until(PROMPT).endswith(PROMPT), term.screen
    assert term.quiet_for(0.3), f"more than the prompt before input: {term.screen!r}"
    term.type(b"5 9 2\r")
    screen = term.read_until(PAUSE)
    assert screen.endswith(b"5 9 2\r\n" + RESULT + PAUSE), screen
    assert term.quiet_for(0.3) and term.running(), "the pause did not wait"
    term.type(key)
    status = term.exit_status()
    assert status == 0, f"exit status {status}"
    assert term.read_until(b"\r\n", len(screen))[len(screen):] == b"\r\n", term.screen
    assert term.settings_kept(), "terminal settings not restored"
    assert term.unread_input() == 0, "part of the key left for the shell"


def main():
    command = sys.argv[1:]
    session(command, b"x")  # one key, no Enter, not echoed
    session(command, b"\x1b[A")  # a key that sends a sequence: all of it taken
    session(command, b"\x03")  # Ctrl-C at the pause
    session(command, b"\x1c")  # Ctrl-\ at the pause
    print("the dialogue at a terminal: prompt, result, pause, settings kept")


if __name__ == "__main__":
    main()
