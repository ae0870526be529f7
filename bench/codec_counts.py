#!/usr/bin/env python3
"""Instructions and heap allocations per operation for every codec_bench row.

    codec_counts.py CODEC_BENCH [--iterations N] [--filter SUBSTRING]

Runs `CODEC_BENCH --loop ROW N` and `--loop ROW 0` under callgrind for every
row and prints the difference divided by N: the instructions one call executes
(Ir) and the calls it makes to malloc, calloc and realloc. Unlike the timings
these counts do not depend on what else the machine is doing, so they show
whether a codec change helped even on a busy machine. Needs valgrind. Build
with -gdwarf-4 for readable profiles: valgrind 3.19 cannot read clang 14's
default DWARF 5 (not needed for the counts themselves).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

ALLOCATORS = {"malloc", "calloc", "realloc"}


def callgrind(binary, row, iterations, workdir):
    out = os.path.join(workdir, f"{row.replace('/', '.')}.{iterations}.out")
    command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", binary, "--loop", row, str(iterations)]
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed:\n{done.stderr[-2000:]}")
    return read_profile(out)


def read_profile(path):
    """(total Ir, calls into the allocators) from a callgrind output file."""
    names = {}
    callee = None
    total = None
    allocations = 0
    with open(path, encoding="utf-8", errors="replace") as stream:
        for line in stream:
            if line.startswith(("fn=", "cfn=")):
                match = re.match(r"^(c?fn)=\((\d+)\)(?: (.*))?$", line.rstrip("\n"))
                if match:
                    kind, ident, name = match.groups()
                    if name:
                        names[ident] = name
                    if kind == "cfn":
                        callee = names.get(ident)
                continue
            if line.startswith("calls="):
                if callee in ALLOCATORS:
                    allocations += int(line.split("=", 1)[1].split()[0])
                continue
            if line.startswith(("summary:", "totals:")):
                total = int(line.split()[1])
    if total is None:
        raise RuntimeError(f"no totals in {path}")
    return total, allocations


def rows_of(binary):
    listed = subprocess.run([binary, "--benchmark_list_tests=true"], capture_output=True, text=True, check=True)
    return [line.strip() for line in listed.stdout.splitlines() if line.strip()]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary")
    parser.add_argument("--iterations", type=int, default=10000)
    parser.add_argument("--filter", default="", help="only rows whose name contains this")
    args = parser.parse_args(argv)

    rows = [row for row in rows_of(args.binary) if args.filter in row]
    print(f"{'row':28} {'Ir/op':>9} {'allocs/op':>10}")
    with tempfile.TemporaryDirectory() as workdir:
        for row in rows:
            ir_n, alloc_n = callgrind(args.binary, row, args.iterations, workdir)
            ir_0, alloc_0 = callgrind(args.binary, row, 0, workdir)
            n = args.iterations
            print(f"{row:28} {(ir_n - ir_0) / n:9.0f} {(alloc_n - alloc_0) / n:10.2f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
