#!/usr/bin/env python3
"""Backs up a benchmark dataset with the program's own run (zv_bench: the main window shown on
the offscreen platform, "Backup" on one action) and with its peers, side by side: the runs of
one round alternate, and the medians of the rounds are compared.

Usage: run_bench.py [many|large ...] [--runs N] [--build DIR] [--data DIR] [--no-password]
                    [--hidden] [--baseline DIR] [--job] [--display :N] [--no-zip]

--display :N shows the window on that X display (Xvfb with a window manager:
`Xvfb :15 -screen 0 1400x900x24 & DISPLAY=:15 openbox &`) instead of the offscreen platform.
Each run's CPU time (user + sys) is printed beside its wall time.

Every round runs the shown window without and with a password, `zip -r -q -6 -n
.gif:.png:.zip:.jpg:.mp3`, `tar -cf - . | pigz -6` and, with the password, 7-Zip writing the same AES-256 ZIP.
--hidden adds the run with a window that is never shown (nothing painted), --baseline DIR the
runs of another build's zv_bench (an earlier state of the program), with and without password, --job the backup job
alone without a window.

The datasets are generated once into bench/data/ (gen_dataset.py). Every archiver reads from a
warm page cache (the dataset is read once before the first round) and runs at the lowest
scheduling priority: the program lowers the workers that write its archive, the peers are
started with `nice -n 19`. The program's run also flushes its archive to disk before renaming
it into place; the peers do not.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


LAST_CPU = [0.0]


def measure(cmd, cwd=None):
    """Wall time and peak RSS of one run; its CPU time (user + sys, children included) is left
    in LAST_CPU[0]."""
    before = os.times()
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    after = os.times()
    LAST_CPU[0] = (after.children_user - before.children_user +
                   after.children_system - before.children_system)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), out.decode(errors="replace")))
    return wall, usage.ru_maxrss


def use_display(display):
    """Shows the runners' windows on an X display (Xvfb with a window manager) instead of the
    offscreen platform."""
    if display:
        os.environ["DISPLAY"] = display
        os.environ["QT_QPA_PLATFORM"] = "xcb"


def warm(folder):
    for root, _, files in os.walk(folder):
        for f in files:
            with open(os.path.join(root, f), "rb") as h:
                while h.read(1 << 20):
                    pass


def arg_parser(runs):
    """The options every benchmark script takes."""
    ap = argparse.ArgumentParser()
    ap.add_argument("profiles", nargs="*", default=["many"])
    ap.add_argument("--runs", type=int, default=runs)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build-bench"))
    ap.add_argument("--data", default=os.path.join(HERE, "data"))
    ap.add_argument("--display", help="X display for the window, e.g. :15 (Xvfb + openbox)")
    return ap


def find_runner(build, name):
    """The path of a benchmark runner in the build folder; ends the script when it is not built."""
    path = os.path.join(build, "bench", name)
    if not os.path.exists(path):
        sys.exit("build the runner first: cmake -S . -B build-bench -G Ninja "
                 "-DCMAKE_BUILD_TYPE=Release -DZV_BENCH=ON -DZV_TESTS=OFF && "
                 "ninja -C build-bench " + name)
    return path


PASSWORD = "Geheim 1"


def main():
    ap = arg_parser(3)
    ap.add_argument("--no-password", action="store_true")
    ap.add_argument("--hidden", action="store_true", help="also the run with a hidden window")
    ap.add_argument("--baseline", help="build folder of an earlier zv_bench, run hidden")
    ap.add_argument("--job", action="store_true", help="also the backup job alone")
    ap.add_argument("--no-zip", action="store_true", help="without zip -6 (slow on large)")
    args = ap.parse_args()
    use_display(args.display)
    runner = find_runner(args.build, "zv_bench")
    out_dir = os.path.join(args.data, "out")
    os.makedirs(out_dir, exist_ok=True)
    print("cores: %d, load average before: %.1f" % (len(os.sched_getaffinity(0)),
                                                    os.getloadavg()[0]))
    for profile in args.profiles:
        src = os.path.join(args.data, profile)
        if not os.path.isdir(src):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_dataset.py"), profile, src])
        warm(src)
        target = os.path.join(out_dir, profile + ".Zip")
        runs = {"window": [runner, src, target]}
        if args.hidden:
            runs["hidden window"] = [runner, "--hidden", src, target]
        if args.baseline:
            runs["baseline"] = [os.path.join(args.baseline, "bench", "zv_bench"), src, target]
        if args.job:
            runs["backup job"] = [runner, "--job", src, target]
        if not args.no_zip:
            runs["zip -6"] = ["nice", "-n", "19", "zip", "-r", "-q", "-6", "-n",
                              ".gif:.png:.zip:.jpg:.mp3", target, "."]
        runs["tar | pigz -6"] = ["sh", "-c", "nice -n 19 tar -cf - . | nice -n 19 pigz -6 > " +
                                 target]
        if not args.no_password:
            runs["window, password"] = [runner, "--password", PASSWORD, src, target]
            if args.baseline:
                runs["baseline, password"] = [os.path.join(args.baseline, "bench", "zv_bench"),
                                              "--password", PASSWORD, src, target]
            runs["7z, password"] = ["nice", "-n", "19", "7z", "a", "-tzip", "-mx=5",
                                    "-mem=AES256", "-p" + PASSWORD, "-bd", "-bso0", target, "."]
        times = {k: [] for k in runs}
        cpu = {k: [] for k in runs}
        sizes, rss = {}, {}
        for _ in range(args.runs):
            for name, cmd in runs.items():
                if os.path.exists(target):
                    os.remove(target)
                wall, peak = measure(cmd, cwd=src)
                times[name].append(wall)
                cpu[name].append(LAST_CPU[0])
                sizes[name] = os.path.getsize(target)
                rss[name] = max(rss.get(name, 0), peak)
        med = {k: statistics.median(v) for k, v in times.items()}
        print("%s: %d rounds, median wall time" % (profile, args.runs))
        for name in runs:
            print("  %-18s %7.2f s  CPU %6.2f s  peak RSS %7.1f MiB  archive %8.1f MB  runs %s" %
                  (name, med[name], statistics.median(cpu[name]), rss[name] / 1024,
                   sizes[name] / 1e6, [round(t, 2) for t in times[name]]))
        if "zip -6" in med:
            print("  window / zip -6: %.2f" % (med["window"] / med["zip -6"]))
        print("  window / tar | pigz -6: %.2f" % (med["window"] / med["tar | pigz -6"]))
        for other in ("hidden window", "baseline", "backup job"):
            if other in med:
                print("  window / %s: %.2f" % (other, med["window"] / med[other]))
        if not args.no_password:
            print("  window password / without: %.2f" % (med["window, password"] / med["window"]))
            if args.baseline:
                print("  baseline password / without: %.2f" %
                      (med["baseline, password"] / med["baseline"]))
            print("  window password / 7z password: %.2f" %
                  (med["window, password"] / med["7z, password"]))
        os.remove(target)
    shutil.rmtree(out_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
