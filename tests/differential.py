#!/usr/bin/env python3
"""Compares the program's report with the C library's own reading of random
inputs built from the grammar of the read.

  differential.py [--count N] [--seed S] -- COMMAND...

The oracle is sscanf(input, "%d%n %d%n %d%n"): its count of values stored,
and its values where they are in the 32-bit range; a number beyond it is
taken from the span that %n marks, read wide and clamped. Numbers not read
count as the lowest value.
"""
import argparse
import ctypes
import random
import sys
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, sys.path[0])
from dialogue import HIGHEST, LOWEST, run, verdict  # noqa: E402

SPACES = b" \t\n\v\f\r"
JUNK = [b"x", b",", b".", b"-", b"+", b"+-", b"0x", b"\0", b"\xff", b"e5"]
libc = ctypes.CDLL(None)


def oracle(text):
    values = [ctypes.c_int(LOWEST) for _ in range(3)]
    ends = [ctypes.c_int(-1) for _ in range(3)]
    count = libc.sscanf(text, b"%d%n %d%n %d%n",
                        *(ctypes.byref(x) for pair in zip(values, ends) for x in pair))
    numbers, start = [], 0
    for value, end in list(zip(values, ends))[:max(count, 0)]:
        wide = int(text[start:end.value])
        numbers.append(value.value if LOWEST <= wide <= HIGHEST
                       else max(LOWEST, min(HIGHEST, wide)))
        start = end.value
    return max(numbers + [LOWEST])


def number(rng):
    sign = rng.choice([b"", b"", b"-", b"+"])
    zeros = b"0" * rng.choice([0, 0, 0, 1, 2, 20])
    digits = rng.choice([
        str(rng.randrange(10)), str(rng.randrange(100000)),
        str(rng.randrange(2**31)), str(2**31 - rng.randrange(3)),
        str(rng.randrange(10**rng.randrange(10, 40))),
    ]).encode()
    return sign + zeros + digits


def spaces(rng, least):
    return bytes(rng.choice(SPACES) for _ in range(rng.choice([least, least, 1, 3, 40])))


def generate(rng):
    parts = [spaces(rng, 0)]
    for _ in range(rng.choice([1, 2, 3, 3, 3, 4])):
        parts += [number(rng), spaces(rng, rng.choice([0, 1]))]
    text = b"".join(parts)
    if rng.random() < 0.3:  # break the pattern somewhere
        at = rng.randrange(len(text) + 1)
        text = text[:at] + rng.choice(JUNK) + text[at:]
    if rng.random() < 0.2:  # end the input early
        text = text[:rng.randrange(len(text) + 1)]
    return text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("command", nargs="+")
    opts = parser.parse_args()
    rng = random.Random(opts.seed)
    inputs = [generate(rng) for _ in range(opts.count)]

    def check(text):
        problem = verdict(*run(opts.command, [text]), oracle(text))
        return f"input {text!r}: {problem}" if problem else None

    with ThreadPoolExecutor(max_workers=4) as pool:
        problems = [p for p in pool.map(check, inputs) if p]
    print(*problems[:20], sep="\n", file=sys.stderr)
    print(f"{len(inputs) - len(problems)} passed, {len(problems)} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
