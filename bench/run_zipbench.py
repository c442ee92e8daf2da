#!/usr/bin/env python3
"""Side by side on one dataset, pairs alternated: the program's run (zv_bench, the shown
window), the archive component in its pipelined mode (zv_zipbench) without and with a password,
`zip -6` and, with the password, 7-Zip writing the same AES-256 ZIP. Prints the median wall
times and the ratios of the goals.

Usage: run_zipbench.py [many|large ...] [--runs N] [--build DIR] [--data DIR]
"""
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import arg_parser, measure, warm  # noqa: E402

PASSWORD = "Geheim 1"


def main():
    ap = arg_parser(3)
    ap.add_argument("--no-password", action="store_true")
    args = ap.parse_args()
    bench = os.path.join(args.build, "bench")
    out_dir = os.path.join(args.data, "out")
    os.makedirs(out_dir, exist_ok=True)
    print("cores: %d" % len(os.sched_getaffinity(0)))
    for profile in args.profiles:
        src = os.path.join(args.data, profile)
        if not os.path.isdir(src):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_dataset.py"), profile, src])
        warm(src)
        target = os.path.join(out_dir, profile + ".Zip")
        runs = {
            "window run": lambda: [os.path.join(bench, "zv_bench"), src, target],
            "pipelined": lambda: [os.path.join(bench, "zv_zipbench"), src, target],
            "zip -6": lambda: ["nice", "-n", "19", "zip", "-r", "-q", "-6", "-n",
                               ".gif:.png:.zip:.jpg:.mp3", target, "."],
        }
        if not args.no_password:
            runs["pipelined, password"] = lambda: [os.path.join(bench, "zv_zipbench"), src,
                                                   target, PASSWORD]
            runs["7z, password"] = lambda: ["nice", "-n", "19", "7z", "a", "-tzip", "-mx=5",
                                            "-mem=AES256", "-p" + PASSWORD, "-bd", "-bso0",
                                            target, "."]
        times = {k: [] for k in runs}
        sizes = {}
        rss = {}
        for _ in range(args.runs):
            for name, cmd in runs.items():
                if os.path.exists(target):
                    os.remove(target)
                wall, peak = measure(cmd(), cwd=src)
                times[name].append(wall)
                sizes[name] = os.path.getsize(target)
                rss[name] = max(rss.get(name, 0), peak)
        print("%s: %d runs, median wall time" % (profile, args.runs))
        for name in runs:
            print("  %-22s %7.2f s  peak RSS %7.1f MiB  archive %8.1f MB  runs %s" %
                  (name, statistics.median(times[name]), rss[name] / 1024, sizes[name] / 1e6,
                   [round(t, 2) for t in times[name]]))
        med = {k: statistics.median(v) for k, v in times.items()}
        print("  pipelined / zip -6: %.2f" % (med["pipelined"] / med["zip -6"]))
        print("  window run / zip -6: %.2f" % (med["window run"] / med["zip -6"]))
        if not args.no_password:
            print("  pipelined password / without: %.2f" %
                  (med["pipelined, password"] / med["pipelined"]))
            print("  pipelined password / 7z password: %.2f" %
                  (med["pipelined, password"] / med["7z, password"]))
        os.remove(target)


if __name__ == "__main__":
    main()
