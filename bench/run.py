#!/usr/bin/env python3
"""Measures the program beside the plain scanf version of the same dialogue
and prints the table for BENCHMARKS.md. Times are given as ratios, which
carry from one machine to another better than seconds.

  run.py PROGRAM BASELINE [--runs N]
"""
import argparse
import itertools
import os
import platform
import re
import subprocess
import tempfile
import time

MiB = 2**20
SPACES = b" \t\n\v\f\r"


def instructions(program):
    """Instructions the program's own process executes for one run."""
    result = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", program],
        input=b"5 9 2", capture_output=True, check=True)
    return int(re.search(rb"Collected : (\d+)", result.stderr)[1])


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
    take turns, so a slow spell of the machine falls on both."""
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
    parser.add_argument("baseline")
    parser.add_argument("--runs", type=int, default=5)
    opts = parser.parse_args()
    ours, base = opts.program, opts.baseline
    # Every kind of white space, in an order a branch predictor cannot learn.
    spaces = bytes(SPACES[(i * 2654435761 >> 7) % 6] for i in range(MiB))
    rows = []

    ins = {p: instructions(p) for p in (ours, base)}
    rows.append(("Start-up: instructions, one run of \"5 9 2\"",
                 f"{ins[ours]:,}", f"{ins[base]:,}",
                 f"{ins[ours] / ins[base]:.3f}", "ratio at most 1.02"))

    with tempfile.TemporaryDirectory() as tmp:
        growth = {}
        for size in (64 * MiB, 128 * MiB, 256 * MiB):
            path = make_input(tmp, size, spaces, b"4 2 3")
            growth[size] = best((ours, base), path, opts.runs)
            os.remove(path)
        ws = growth[256 * MiB]
        rows.append(("256 MiB of white space, \"4 2 3\": time", "", "",
                     f"{ws[ours][0] / ws[base][0]:.2f}", "ratio at most 1.0"))
        rows.append(("256 MiB of white space: peak memory",
                     f"{ws[ours][1]:,} KiB", f"{ws[base][1]:,} KiB",
                     f"{ws[ours][1] - ws[base][1]:+,} KiB", "at most +512 KiB"))
        rows.append(("256 MiB of white space: report",
                     str(ws[ours][2]), str(ws[base][2]), "", "4"))

        path = make_input(tmp, 256 * MiB, b"7" * MiB, b" 1 2")
        digits = best((ours, base), path, opts.runs)
        rows.append(("256 MiB of digits, \" 1 2\": peak memory",
                     f"{digits[ours][1]:,} KiB", f"{digits[base][1]:,} KiB",
                     "", "ours at most 4,096 KiB"))
        rows.append(("256 MiB of digits: report", str(digits[ours][2]),
                     str(digits[base][2]), "", "2147483647"))
        rows.append(("256 MiB of digits: time", "", "",
                     f"{digits[ours][0] / digits[base][0]:.2f}", ""))

    for program, name in ((ours, "ours"), (base, "baseline")):
        t64 = growth[64 * MiB][program][0]
        rows.append((f"White space, 64 : 128 : 256 MiB: time, {name}", "", "",
                     " : ".join(f"{growth[s][program][0] / t64:.2f}"
                                for s in sorted(growth)), "1 : 2 : 4 (linear)"))

    print("| measure | ours | baseline | ours / baseline | goal |")
    print("| --- | ---: | ---: | ---: | --- |")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    cpu = re.search(r"model name\s*: (.*)", open("/proc/cpuinfo").read())
    print(f"\nBest of {opts.runs} runs, the two programs taking turns; "
          f"{cpu[1] if cpu else platform.processor()}, {os.cpu_count()} cores, "
          f"Linux {platform.release()}, {platform.libc_ver()[0]} "
          f"{platform.libc_ver()[1]}.")


if __name__ == "__main__":
    main()
