#!/usr/bin/env python3
"""Whole runs of the programs of two or more builds, alternately: start-up
(--version), a small and a large picture, and the window's start, with the
shared libraries each program loads and each run's peak memory. The fastest
of the runs of each build counts, since other work on the machine only adds
time. Needs GNU time (Debian's time).

Usage: bench/startup.py [--runs N] NAME=BUILD_FOLDER NAME=BUILD_FOLDER ...
"""
import os
import subprocess
import sys
import tempfile
import time


def libraries(program):
    """The shared libraries the dynamic linker loads for the program."""
    listing = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    return sum(1 for line in listing.splitlines() if "=>" in line or line.strip().startswith("/"))


def timed(command, environment, scratch):
    """Seconds and peak resident memory (MiB) of one run of the command.
    GNU time reads the peak: a child of this script would count the script's
    own memory, which a fork copies, in its peak."""
    report = os.path.join(scratch, "time.txt")
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
    seconds = time.perf_counter() - start
    with open(report) as text:
        return seconds, int(text.read().split()[-1]) / 1024


def main():
    arguments = sys.argv[1:]
    runs = 15
    if arguments[:1] == ["--runs"]:
        runs = int(arguments[1])
        arguments = arguments[2:]
    builds = [argument.split("=", 1) for argument in arguments]
    if len(builds) < 1:
        sys.exit(__doc__)
    scratch = tempfile.mkdtemp()
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    cases = [
        ("spirell-render --version", "tools/spirell-render", ["--version"]),
        ("ripple 256 x 256 PNG", "tools/spirell-render",
         ["ripple", "--size", "256", "--quiet", "-o", f"{scratch}/small.png"]),
        ("quest 1024 x 1024 PNG", "tools/spirell-render",
         ["quest", "--size", "1024", "--quiet", "-o", f"{scratch}/large.png"]),
        ("spirell --version", "src/spirell", ["--version"]),
    ]
    print("| | " + " | ".join(name for name, _ in builds) + " |")
    print("|---|" + "---:|" * len(builds))
    for program in ("tools/spirell-render", "src/spirell"):
        counts = [str(libraries(os.path.join(folder, program))) for _, folder in builds]
        print(f"| shared libraries loaded by {os.path.basename(program)} | " + " | ".join(counts) + " |")
    for title, program, options in cases:
        best = {name: (float("inf"), float("inf")) for name, _ in builds}
        for _ in range(runs):
            for name, folder in builds:
                seconds, memory = timed([os.path.join(folder, program)] + options, environment, scratch)
                best[name] = (min(best[name][0], seconds), min(best[name][1], memory))
        print(f"| {title}, ms | " + " | ".join(f"{best[name][0] * 1000:.1f}" for name, _ in builds) + " |")
        print(f"| {title}, peak MiB | " + " | ".join(f"{best[name][1]:.1f}" for name, _ in builds) + " |")


if __name__ == "__main__":
    main()
