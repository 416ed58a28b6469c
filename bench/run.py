#!/usr/bin/env python3
"""Measures the program beside release 1.4.0 ("previous") and the plain
scanf version of the same dialogue, then its static build beside 1.4.0's
and beside the least a static program can do for the same run, and prints
the tables for BENCHMARKS.md. Times are given as ratios, which
carry from one machine to another better than seconds.

  run.py PROGRAM PREVIOUS BASELINE STATIC PREVIOUS_STATIC FLOOR [--runs N]
"""
import argparse
import fcntl
import itertools
import os
import platform
import re
import shutil
import statistics
import subprocess
import tempfile
import termios
import textwrap
import time
from pathlib import Path

MiB = 2**20
SPACES = b" \t\n\v\f\r"


def instructions(program, children):
    """Instructions one piped run of "5 9 2" executes: the program's own
    process, or it and every process it starts."""
    # A log file a process: a child's report to stderr may go to /dev/null.
    with tempfile.TemporaryDirectory() as logs:
        subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
             f"--trace-children={'yes' if children else 'no'}",
             f"--log-file={logs}/%p", program],
            input=b"5 9 2", capture_output=True, check=True)
        return sum(int(n) for log in Path(logs).iterdir()
                   for n in re.findall(r"Collected : (\d+)", log.read_text()))


def piped_run(program):
    """Wall time in seconds of one whole piped run of "5 9 2"."""
    start = time.perf_counter()
    subprocess.run([program], input=b"5 9 2", capture_output=True, check=True)
    return time.perf_counter() - start


def waiting(program, seconds):
    """Wake-ups a second and CPU time over the seconds given, of the program
    waiting at the pause, in the foreground of a terminal of its own."""
    master, slave = os.openpty()
    proc = subprocess.Popen([program], stdin=slave, stdout=slave, stderr=slave,
                            start_new_session=True,
                            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    os.write(master, b"5 9 2\r")
    shown = b""
    while b"Press any key" not in shown:
        shown += os.read(master, 4096)
    time.sleep(1)  # into its wait

    def counts():
        # CPU time in ns (schedstat), and the times it went to sleep of itself.
        cpu = int(Path(f"/proc/{proc.pid}/schedstat").read_text().split()[0])
        status = Path(f"/proc/{proc.pid}/status").read_text()
        return cpu, int(re.search(r"\nvoluntary_ctxt_switches:\s*(\d+)", status)[1])

    (cpu, sleeps), _, (cpu_after, sleeps_after) = counts(), time.sleep(seconds), counts()
    os.write(master, b"x")
    proc.wait()
    os.close(master)
    return (sleeps_after - sleeps) / seconds, (cpu_after - cpu) / 1e6


def run(program, path):
    """Wall time in seconds, peak memory in KiB and the reported number."""
    with open(path, "rb") as stdin, tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        out = subprocess.run(["time", "-f", "%M", "-o", peak.name, program],
                             stdin=stdin, capture_output=True, check=True).stdout
        seconds = time.perf_counter() - start
        kib = int(peak.read().split()[-1])
    return seconds, kib, int(re.search(rb"Najveci broj je: (-?\d+)", out)[1])


def best(programs, path, runs):
    """Per program: best time, highest peak memory, the report; the programs
    take turns, so a slow spell of the machine falls on all."""
    results = {p: [] for p in programs}
    for _, program in itertools.product(range(runs), programs):
        results[program].append(run(program, path))
    return {p: (min(r[0] for r in rs), max(r[1] for r in rs), rs[0][2])
            for p, rs in results.items()}


def make_input(directory, size, byte_run, tail):
    path = os.path.join(directory, f"{size // MiB}MiB")
    with open(path, "wb") as f:
        for _ in range(size // MiB):
            f.write(byte_run)
        f.write(tail)
    return path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("previous")
    parser.add_argument("baseline")
    parser.add_argument("static")
    parser.add_argument("previous_static")
    parser.add_argument("floor")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--wait", type=int, default=60,
                        help="seconds the pause waits for a key, measured")
    opts = parser.parse_args()
    # On one core, every run alike: left to roam, runs here fall into a fast
    # and a slow kind, about 1.8 times apart.
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    # Each program copied into one folder, under a name of one length: the
    # C library's start reads the path, and the kernel looks it up.
    folder = tempfile.TemporaryDirectory()
    for n, name in enumerate(("program", "previous", "baseline", "static",
                              "previous_static", "floor")):
        copy = os.path.join(folder.name, f"p{n}")
        shutil.copy2(getattr(opts, name), copy)
        setattr(opts, name, copy)
    ours, _, base = programs = opts.program, opts.previous, opts.baseline
    # Every kind of white space, in an order a branch predictor cannot learn.
    spaces = bytes(SPACES[(i * 2654435761 >> 7) % 6] for i in range(MiB))
    rows, noise = [], []

    def row(measure, values, show, goal=""):
        """A row of the three values, with ours over each of the others."""
        ratios = [f"{values[0] / v:.3f}" if show is not str else ""
                  for v in values[1:]]
        rows.append((measure, *map(show, values), *ratios, goal))

    def measured(name, results, time_goal, memory_goal, report):
        """Time, peak memory and report on one input, a row each."""
        row(f"{name}: time", [results[p][0] for p in programs],
            "{:.3f} s".format, time_goal)
        row(f"{name}: peak memory", [results[p][1] for p in programs],
            "{:,} KiB".format, memory_goal)
        row(f"{name}: report", [results[p][2] for p in programs], str, report)

    count = "{:,}".format
    row("Piped run of \"5 9 2\": instructions, with children",
        [instructions(p, True) for p in programs], count,
        "at most 1.0 of previous")
    def wall_times(programs, goal):
        """The programs in every order in turn, so that each runs after
        each other as often (a run is slower after one that starts a
        shell), beside a copy of the first, whose time against the first's
        shows how far two runs of one program differ here."""
        copy = os.path.join(folder.name, "pc")
        shutil.copy2(programs[0], copy)
        times = {p: [] for p in (*programs, copy)}
        orders = list(itertools.permutations(times))
        for turn in range(100 * opts.runs):
            for program in orders[turn % len(orders)]:
                times[program].append(piped_run(program))
        medians = {p: statistics.median(t) for p, t in times.items()}
        row("Piped run of \"5 9 2\": wall time, median of "
            f"{100 * opts.runs}", [medians[p] for p in programs],
            lambda s: f"{s * 1000:.2f} ms", goal)
        noise.append(medians[copy] / medians[programs[0]])

    wall_times(programs, "at most 1.0 of previous")
    row("Piped run of \"5 9 2\": instructions, the program's own process",
        [instructions(p, False) for p in programs], count)

    with tempfile.TemporaryDirectory() as tmp:
        growth = {}
        for size in (64 * MiB, 128 * MiB, 256 * MiB):
            path = make_input(tmp, size, spaces, b"4 2 3")
            growth[size] = best(programs, path, opts.runs)
            os.remove(path)
        measured("256 MiB of white space, \"4 2 3\"", growth[256 * MiB],
                 "at most 1.0 of baseline", "at most 512 KiB above baseline", "4")
        path = make_input(tmp, 256 * MiB, b"7" * MiB, b" 1 2")
        measured("256 MiB of digits, \" 1 2\"", best(programs, path, opts.runs),
                 "at most 1.05 of previous", "ours at most 4,096 KiB", "2147483647")

    for program, name in ((ours, "ours"), (base, "baseline")):
        t64 = growth[64 * MiB][program][0]
        rows.append((f"White space, 64 : 128 : 256 MiB: time, {name}",
                     " : ".join(f"{growth[s][program][0] / t64:.2f}"
                                for s in sorted(growth)),
                     "", "", "", "", "1 : 2 : 4 (linear)"))

    print("| measure | ours | previous | baseline | ours / previous "
          "| ours / baseline | goal |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | --- |")
    for r in rows:
        print("| " + " | ".join(r) + " |")

    rows.clear()
    statics = opts.static, opts.previous_static, opts.floor
    row("Piped run of \"5 9 2\": instructions",
        [instructions(p, True) for p in statics], count,
        "at most 1.0 of previous, 1.10 of floor")
    wall_times(statics, "at most 1.0 of previous, 1.10 of floor")
    print("\n| measure | static | previous static | floor "
          "| static / previous | static / floor | goal |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | --- |")
    for r in rows:
        print("| " + " | ".join(r) + " |")
    print(f"\n| waiting at the pause for {opts.wait} s, at a terminal | ours "
          "| previous |")
    print("| --- | ---: | ---: |")
    watched = [waiting(p, opts.wait) for p in (ours, opts.previous)]
    print("| wake-ups a second | " + " | ".join(f"{w:.1f}" for w, _ in watched) + " |")
    print(f"| CPU time over the {opts.wait} s | "
          + " | ".join(f"{ms:.2f} ms" for _, ms in watched) + " |")
    cpu = re.search(r"model name\s*: (.*)", open("/proc/cpuinfo").read())
    print("\n" + textwrap.fill(
        f"Best of {opts.runs} runs except where a row says otherwise, the "
        f"programs taking turns on one core; a copy of ours, and of static, "
        f"in the same turns took {noise[0]:.3f} and {noise[1]:.3f} of their "
        f"wall times; "
        f"{cpu[1] if cpu else platform.processor()}, "
        f"{os.cpu_count()} cores, Linux {platform.release()}, "
        f"{platform.libc_ver()[0]} {platform.libc_ver()[1]}.", 76))


if __name__ == "__main__":
    main()
