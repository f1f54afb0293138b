#!/usr/bin/python3
"""make bench: what the release executable costs, in three small tables.

  bench/bench.py [--runs N]

1. Size and imports of certinstall.exe, built as the release is (the
   windows-release preset, the same bytes as dist/certinstall.exe before
   signing), and of bench/minimal.cpp built with the same flags.
2. Whole-process time of `wine certinstall.exe prod` against `wine
   minimal.exe`: N pairs, the order inside a pair alternating, in a prefix
   under build/bench that earlier runs have warmed, with its wineserver kept
   running (`wineserver -p`) so that no run pays for starting the server.
   From the second run on, the certificates are already in their stores.
3. Heap allocations per certificate in the host build's loader, counted by
   replacing operator new (bench/allocations_per_certificate.cpp).

Builds into build/bench/; prints to stdout.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

import pefile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(TOP, "build", "bench")
sys.path.insert(0, os.path.join(TOP, "tools"))
import wine_prefix  # noqa: E402

TARGETS = os.path.join(TOP, "bench", "targets.cmake")


def build(preset, directory, targets, *options):
    subprocess.run(["cmake", "--preset", preset, "-B", directory, f"-DCMAKE_PROJECT_certinstall_INCLUDE={TARGETS}",
                    *options], cwd=TOP, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", directory, "-j", str(os.cpu_count() or 1), "--target", *targets],
                   cwd=TOP, check=True, stdout=subprocess.DEVNULL)


def print_table(header, rows):
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    for row in [header, *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    print()


def size_and_imports(executables):
    rows = []
    for path in executables:
        pe = pefile.PE(path)
        sections = {s.Name.rstrip(b"\0").decode(): s.SizeOfRawData for s in pe.sections}
        imports = []
        for entry in pe.DIRECTORY_ENTRY_IMPORT:
            names = [i.name.decode() for i in entry.imports if i.name]
            listed = f": {', '.join(names)}" if len(names) <= 6 else ""
            imports.append(f"{entry.dll.decode()} ({len(names)}{listed})")
        rows.append([os.path.basename(path), os.path.getsize(path), sections.get(".text", 0),
                     sections.get(".rsrc", 0), "; ".join(imports)])
    print("Executables (bytes)")
    print_table(["file", "size", ".text", ".rsrc", "imports (functions)"], rows)


def timed_run(command, env):
    start = time.perf_counter()
    result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        raise SystemExit(f"{' '.join(command)} exited with {result.returncode}")
    return elapsed


def start_up_times(certinstall, minimal, runs):
    prefix = os.path.join(BUILD, "wine-prefix")
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        wine_prefix.create("wine", prefix)
    env = wine_prefix.wine_environment(prefix)
    programs = {"certinstall.exe prod": ["wine", certinstall, "prod"], "minimal.exe": ["wine", minimal]}
    times = {name: [] for name in programs}
    # A wineserver that stays up between runs, ended below; one that an
    # interrupted bench left in this prefix goes first.
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, check=True)
    try:
        for command in programs.values():  # warm-up, not counted
            timed_run(command, env)
            timed_run(command, env)
        for run in range(runs):
            order = list(programs) if run % 2 == 0 else list(reversed(programs))
            for name in order:
                times[name].append(timed_run(programs[name], env))
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
    ratios = [a / b for a, b in zip(times["certinstall.exe prod"], times["minimal.exe"])]

    print(f"Whole-process time under Wine ({runs} pairs, alternating, persistent wineserver; ms)")
    rows = [[name, f"{statistics.median(t) * 1000:.1f}", f"{min(t) * 1000:.1f}", f"{max(t) * 1000:.1f}"]
            for name, t in times.items()]
    print_table(["program", "median", "min", "max"], rows)
    print(f"median of the pairs' ratios certinstall/minimal: {statistics.median(ratios):.2f}"
          f" (min {min(ratios):.2f}, max {max(ratios):.2f})")
    print()


def allocations(program):
    print("Heap allocations in loadCertificateFromResources (host build)")
    sys.stdout.flush()
    subprocess.run([program], check=True)
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=20, help="timed pairs (default 20)")
    options = parser.parse_args()

    windows = os.path.join(BUILD, "windows")
    host = os.path.join(BUILD, "host")
    build("windows-release", windows, ["certinstall", "minimal"])
    build("host", host, ["allocations_per_certificate"], "-DBUILD_TESTING=OFF")
    certinstall = os.path.join(windows, "certinstall.exe")
    minimal = os.path.join(windows, "minimal.exe")

    size_and_imports([certinstall, minimal])
    start_up_times(certinstall, minimal, options.runs)
    allocations(os.path.join(host, "allocations_per_certificate"))


if __name__ == "__main__":
    main()
