#!/usr/bin/env python3
"""Two or more builds of melodex-cli, timed in turn on one folder.

    bench/compare.py [--list] ROUNDS FOLDER CLI...

Runs `CLI info FOLDER` (with --list: `CLI list FOLDER --output NAME`, removed
afterwards) for each build in turn, ROUNDS times after one warm-up round, and
prints the minimum, lower quartile and median wall time of each, the median
against the first build's. Taking turns rather than one build's runs after the
other's keeps a machine whose speed drifts (a shared VM) from favouring
either; hyperfine's batches do not.
"""
import argparse
import os
import statistics
import subprocess
import time

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--list", action="store_true", help="time `list` instead of `info`")
parser.add_argument("rounds", type=int)
parser.add_argument("folder")
parser.add_argument("cli", nargs="+")
args = parser.parse_args()

output = "bench-compare.htm"
times = {cli: [] for cli in args.cli}
try:
    for round_ in range(args.rounds + 1):
        for cli in args.cli:
            command = [cli, "list", args.folder, "--output", output] if args.list else [cli, "info", args.folder]
            start = time.perf_counter()
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if done.returncode != 0:
                raise SystemExit(f"{' '.join(command)}: exit {done.returncode}\n{done.stderr}")
            if round_:
                times[cli].append(time.perf_counter() - start)
finally:
    if args.list and os.path.exists(os.path.join(args.folder, output)):
        os.remove(os.path.join(args.folder, output))

first = statistics.median(times[args.cli[0]])
for cli, runs in times.items():
    quartile = statistics.quantiles(runs, n=4, method="inclusive")[0]
    median = statistics.median(runs)
    print(f"{cli}: min {min(runs) * 1e3:.1f} ms, p25 {quartile * 1e3:.1f} ms, median {median * 1e3:.1f} ms "
          f"({median / first - 1:+.1%})")
