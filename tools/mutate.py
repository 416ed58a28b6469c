#!/usr/bin/env python3
"""Plants each fault that tests/mutants.toml lists in a copy of the tree, one at a time, builds
it, runs its tests, and prints which tests catch it.

  tools/mutate.py [--preset release] [--jobs 2] [--timeout 120] [--faults FILE] [NAME...]

Each fault replaces one text, which must stand exactly once in its file (src/main.cpp unless
`file` says otherwise). The faults are tests/mutants.toml's, or another list's in that form. A fault that does not build is stillborn; one marked `equivalent` cannot
be seen from outside the program, and catching it is reported as a surprise. The tree as it is
goes first: if its tests fail, no other result means anything. Exits with 1 where a fault got
through or the tree itself fails, with 0 otherwise.
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
import tomllib
import xml.etree.ElementTree as ElementTree
from concurrent.futures import ThreadPoolExecutor, as_completed
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent


def tracked_files():
    """The tree as git has it, with the changes not yet committed: no build folders."""
    names = subprocess.run(["git", "-C", str(TOP), "ls-files", "-z"], check=True,
                           capture_output=True).stdout.decode().split("\0")
    return [name for name in names if name and (TOP / name).is_file()]


def trial(fault, files, preset, timeout):
    """(how it went, the tests that failed) for the tree with the fault planted, or as it is:
    caught or missed, for the tree itself fails or passes; or stillborn, unconfigured."""
    with tempfile.TemporaryDirectory(prefix="mutant-") as folder:
        tree = Path(folder)
        for name in files:
            (tree / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(TOP / name, tree / name)
        if fault:
            path = tree / fault.get("file", "src/main.cpp")
            path.write_text(path.read_text().replace(fault["old"], fault["new"], 1))

        def run(*command):
            return subprocess.run(command, cwd=tree, capture_output=True).returncode == 0

        if not run("cmake", "--preset", preset):
            return "unconfigured", []
        if not run("cmake", "--build", "--preset", preset):
            return "stillborn", []
        run("ctest", "--preset", preset, "--timeout", str(timeout), "--output-junit", "junit.xml")
        junit = tree / "build" / preset / "junit.xml"
        failed = sorted(case.get("name") for case in ElementTree.parse(junit).iter("testcase")
                        if case.get("status") == "fail")
        if not fault:
            return ("fails" if failed else "passes"), failed
        return ("caught" if failed else "missed"), failed


def told(fault, verdict, failed):
    """A fault marked equivalent is told so, whatever its trial showed."""
    if fault and fault.get("equivalent"):
        return "equivalent, yet caught" if failed else "equivalent"
    return verdict


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*", metavar="NAME", help="only these faults")
    parser.add_argument("--preset", default="release")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=120, help="seconds a test may take")
    parser.add_argument("--faults", type=Path, default=TOP / "tests/mutants.toml")
    opts = parser.parse_args()
    faults = tomllib.loads(opts.faults.read_text())["mutant"]
    for fault in faults:
        text = (TOP / fault.get("file", "src/main.cpp")).read_text()
        if text.count(fault["old"]) != 1:
            sys.exit(f"{fault['name']}: its text stands {text.count(fault['old'])} times, not once")
    if unknown := set(opts.names) - {fault["name"] for fault in faults}:
        sys.exit(f"no such fault: {', '.join(sorted(unknown))}")
    chosen = [None] + [fault for fault in faults if not opts.names or fault["name"] in opts.names]
    results = {}
    with ThreadPoolExecutor(opts.jobs) as pool:  # each as it comes, on stderr
        files = tracked_files()
        trials = {pool.submit(trial, fault, files, opts.preset, opts.timeout): n
                  for n, fault in enumerate(chosen)}
        for done, future in enumerate(as_completed(trials), 1):
            n = trials[future]
            results[n] = future.result()
            verdict, failed = results[n]
            name = chosen[n]["name"] if n else "the tree as it is"
            print(f"[{done}/{len(chosen)}] {name}: {told(chosen[n], verdict, failed)} "
                  f"{' '.join(failed)}", file=sys.stderr, flush=True)
    results = [results[n] for n in range(len(chosen))]

    (control, broken), *rest = results
    print(f"the tree as it is: {control} {' '.join(broken)}")
    width = max(len(fault["name"]) for fault in chosen[1:]) if rest else 0
    for fault, (verdict, failed) in zip(chosen[1:], rest):
        print(f"{fault['name']:{width}}  {told(fault, verdict, failed):22}  {' '.join(failed)}")
    scored = [failed for fault, (verdict, failed) in zip(chosen[1:], rest)
              if not fault.get("equivalent") and verdict in ("caught", "missed")]
    missed = sum(not failed for failed in scored)
    print(f"\n{len(scored) - missed} of {len(scored)} caught; "
          f"{sum(bool(fault.get('equivalent')) for fault in chosen[1:])} equivalent, "
          f"{sum(verdict == 'stillborn' for verdict, _ in rest)} stillborn")
    for test in sorted({name for _, failed in rest for name in failed}):
        alone = [fault["name"] for fault, (_, failed) in zip(chosen[1:], rest) if failed == [test]]
        print(f"{test}: catches {sum(test in failed for _, failed in rest)}, "
              f"alone {len(alone)}{': ' + ' '.join(alone) if alone else ''}")
    return 1 if missed or control != "passes" else 0


if __name__ == "__main__":
    sys.exit(main())
