#!/usr/bin/env python3
"""Backs up a benchmark dataset with the program's own run (zv_bench) and with
`zip -r -q -6 -n .gif:.png:.zip:.jpg:.mp3`, side by side, and prints wall time, peak memory
and archive size of both and the time ratio.

Usage: run_bench.py [many|large ...] [--runs N] [--build DIR] [--data DIR] [--no-job]

Beside the run as the window starts it, the backup job alone (`zv_bench --job`, no window) is
timed too, so the window's share and the archive's share of the time can be told apart.

The datasets are generated once into bench/data/ (gen_dataset.py). Both archivers read from a
warm page cache (the dataset is read once before the first run) and run at the lowest
scheduling priority, which the program's run sets for itself. The program's run also flushes
its archive to disk before renaming it into place; zip does not.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def measure(cmd, cwd=None):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), out.decode(errors="replace")))
    return wall, usage.ru_maxrss


def warm(folder):
    for root, _, files in os.walk(folder):
        for f in files:
            with open(os.path.join(root, f), "rb") as h:
                while h.read(1 << 20):
                    pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("profiles", nargs="*", default=["many"])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build-bench"))
    ap.add_argument("--data", default=os.path.join(HERE, "data"))
    ap.add_argument("--no-job", action="store_true", help="skip the backup job alone")
    args = ap.parse_args()
    runner = os.path.join(args.build, "bench", "zv_bench")
    if not os.path.exists(runner):
        sys.exit("build the runner first: cmake -S . -B build-bench -G Ninja "
                 "-DCMAKE_BUILD_TYPE=Release -DZV_BENCH=ON -DZV_TESTS=OFF && "
                 "ninja -C build-bench zv_bench")
    out_dir = os.path.join(args.data, "out")
    os.makedirs(out_dir, exist_ok=True)
    for profile in args.profiles:
        src = os.path.join(args.data, profile)
        if not os.path.isdir(src):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_dataset.py"), profile, src])
        warm(src)
        ours_zip = os.path.join(out_dir, profile + ".Zip")
        theirs_zip = os.path.join(out_dir, profile + "-zip.zip")
        job_zip = os.path.join(out_dir, profile + "-job.Zip")
        ours, theirs, job = [], [], []
        for _ in range(args.runs):
            for p in (ours_zip, theirs_zip, job_zip):
                if os.path.exists(p):
                    os.remove(p)
            ours.append(measure([runner, src, ours_zip]))
            if not args.no_job:
                job.append(measure([runner, "--job", src, job_zip]))
            theirs.append(measure(["nice", "-n", "19", "zip", "-r", "-q", "-6", "-n",
                                   ".gif:.png:.zip:.jpg:.mp3", theirs_zip, "."], cwd=src))
        best_ours = min(w for w, _ in ours)
        best_theirs = min(w for w, _ in theirs)
        print("%s: %d runs, best wall time" % (profile, args.runs))
        print("  Zorvane2 run: %8.2f s  peak RSS %7.1f MiB  archive %8.1f MB" %
              (best_ours, max(m for _, m in ours) / 1024, os.path.getsize(ours_zip) / 1e6))
        print("  zip -6      : %8.2f s  peak RSS %7.1f MiB  archive %8.1f MB" %
              (best_theirs, max(m for _, m in theirs) / 1024, os.path.getsize(theirs_zip) / 1e6))
        if job:
            best_job = min(w for w, _ in job)
            print("  backup job  : %8.2f s  peak RSS %7.1f MiB  archive %8.1f MB" %
                  (best_job, max(m for _, m in job) / 1024, os.path.getsize(job_zip) / 1e6))
        print("  time ratio Zorvane2/zip: %.2f" % (best_ours / best_theirs))
        if job:
            print("  time ratio job/zip: %.2f" % (best_job / best_theirs))
            print("  job runs (s): %s" % [round(w, 2) for w, _ in job])
        print("  all runs (s): ours %s, zip %s" % ([round(w, 2) for w, _ in ours],
                                                  [round(w, 2) for w, _ in theirs]))
        for p in (ours_zip, theirs_zip, job_zip):
            if os.path.exists(p):
                os.remove(p)
    shutil.rmtree(out_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
