#!/usr/bin/env python3
"""Restores a benchmark dataset's archive into a new folder with the program's restore
command (zv_restore_bench: the shown main window on the offscreen platform), with its archive
reader alone (zv_restore_bench --reader), with `unzip -q` and with `bsdtar -xf`, side by side,
and the program's restore once more over the files it has just restored (every file then
replaces one). Prints the median and best wall times and the ratios to unzip. The program's
figures are its own from the dialog's OK (the reader's: from the extract call) to the end,
files flushed to disk included; the process's wall time, which adds start-up, the dialog's
listing and exit, stands beside them.

Usage: run_restore_bench.py [many|large ...] [--runs N] [--build DIR] [--data DIR]
                            [--target DIR] [--display :N]
       run_restore_bench.py --dialog ENTRIES [--baseline RUNNER] [--runs N] [--display :N]

With --baseline RUNNER another build's zv_restore_bench restores beside this one, in the same
rotation.

--dialog measures the restore dialog instead: the time from the restore command to the
dialog shown with its entries painted, its peak memory and the process's CPU time, on an
archive of ENTRIES empty files in nested folders (written once with Python's zipfile); with
--baseline another build's zv_restore_bench runs in alternated rounds beside it.

--target puts the restored folders on another file system (by default below --data), for
example a freshly made one that no other work on the machine writes to.

The archive is written once with `zip -r -q -6` (bench/data/out/PROFILE-restore.zip). Every
run extracts into a folder of its own: removing the previous run's 20,000 files right before
the next makes the file system's inode allocation slow for a while, which would time the
removal instead of the restore. The folders are removed at the end. Before each run the
file system is flushed (not timed), so no tool pays for another's writes. The tools run in a
rotating order. The program's restore flushes its files to disk before it reports; unzip and
bsdtar do not flush.
"""
import os
import random
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import arg_parser, find_runner, use_display  # noqa: E402


def measure(cmd, cwd=None):
    """The process's wall time, and the time the runner reports for itself (from the dialog's
    OK to the end of the restore command), else None."""
    start = time.monotonic()
    proc = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    wall = time.monotonic() - start
    out = proc.stdout.decode(errors="replace")
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), out[-3000:]))
    own = re.search(r"zv_restore_bench: (\d+) ms", out)
    return wall, (int(own.group(1)) / 1000 if own else None)


def entries_archive(path, count):
    if os.path.exists(path):
        return
    import zipfile
    rng = random.Random(1)
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_STORED) as z:
        for i in range(count):
            name = "ordner%03d/unter%02d/datei_%06d_%s.txt" % (
                i % 500, i % 37, rng.randrange(10 ** 6), "x" * (i % 20))
            when = (2012 + i % 10, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i % 30) * 2)
            z.writestr(zipfile.ZipInfo(name, when), b"")
    os.replace(path + ".part", path)


def dialog_bench(args, runner):
    """The dialog's time to show, peak memory and CPU time, alternated with --baseline."""
    archive = os.path.join(args.data, "out", "entries%d.zip" % args.dialog)
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    entries_archive(archive, args.dialog)
    builds = {"this build": runner}
    if args.baseline:
        builds["baseline"] = args.baseline
    names = list(builds)
    got = {n: [] for n in names}
    for run in range(args.runs):
        for n in names[run % len(names):] + names[:run % len(names)]:
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            proc = subprocess.run([builds[n], "--dialog", archive, args.data],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            out = proc.stdout.decode(errors="replace")
            m = re.search(r"zv_restore_bench: (\d+) ms, peak RSS (\d+) KiB", out)
            if proc.returncode != 0 or not m:
                sys.exit("failed: %s\n%s" % (n, out[-3000:]))
            cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            got[n].append((int(m.group(1)) / 1000, int(m.group(2)) / 1024, cpu))
    print("dialog with %d entries: %d alternated rounds, load average %.1f at the end" %
          (args.dialog, args.runs, os.getloadavg()[0]))
    for n in names:
        shown = [g[0] for g in got[n]]
        print("  %-10s shown median %5.2f s  peak RSS %6.1f MiB  CPU %5.2f s  runs %s" %
              (n, statistics.median(shown), statistics.median(g[1] for g in got[n]),
               statistics.median(g[2] for g in got[n]), [round(x, 2) for x in shown]))


def listing(root):
    out = {}
    for folder, _, files in os.walk(root):
        for f in files:
            p = os.path.join(folder, f)
            out[os.path.relpath(p, root)] = os.path.getsize(p)
    return out


def main():
    ap = arg_parser(5)
    ap.add_argument("--target", help="folder the restores go to (default: below --data)")
    ap.add_argument("--dialog", type=int, help="measure the dialog on this many entries")
    ap.add_argument("--baseline", help="another build's zv_restore_bench, run beside this one")
    args = ap.parse_args()
    use_display(args.display)
    runner = find_runner(args.build, "zv_restore_bench")
    if args.dialog:
        dialog_bench(args, runner)
        return
    out_dir = os.path.join(args.data, "out")
    os.makedirs(out_dir, exist_ok=True)
    for profile in args.profiles:
        src = os.path.join(args.data, profile)
        if not os.path.isdir(src):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_dataset.py"), profile, src])
        archive = os.path.join(out_dir, profile + "-restore.zip")
        if not os.path.exists(archive):
            subprocess.check_call(["zip", "-r", "-q", "-6", "-n", ".gif:.png:.zip:.jpg:.mp3",
                                   archive, "."], cwd=src)
        with open(archive, "rb") as h:
            while h.read(1 << 20):
                pass
        work = os.path.join(args.target or args.data, "restore-" + profile)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        tools = {
            "Zorvane2 restore": lambda d: [runner, archive, d],
            "reader alone": lambda d: [runner, "--reader", archive, d],
            "unzip -q": lambda d: ["unzip", "-q", archive, "-d", d],
            "bsdtar -xf": lambda d: ["bsdtar", "-xf", archive, "-C", d],
        }
        if args.baseline:
            tools = dict(list(tools.items())[:1] + [
                ("baseline restore", lambda d: [args.baseline, archive, d])] +
                list(tools.items())[1:])
        names = list(tools)
        over = "... over its files"
        times = {n: [] for n in names + [over]}
        for run in range(args.runs):
            order = names[run % len(names):] + names[:run % len(names)]
            for n in order:
                dest = os.path.join(work, "%s-%d" % (n.split()[0].lower(), run))
                os.makedirs(dest)
                subprocess.check_call(["sync"])
                times[n].append(measure(tools[n](dest)))
            # Once more over the files just restored: every file replaces one.
            subprocess.check_call(["sync"])
            times[over].append(measure(tools[names[0]](os.path.join(work, "zorvane2-%d" % run))))
        expected = listing(src)
        for n in names:
            got = listing(os.path.join(work, "%s-0" % n.split()[0].lower()))
            if got != expected:
                sys.exit("%s restored something else than %s" % (n, src))
        shutil.rmtree(work)
        base = statistics.median(w for w, _ in times["unzip -q"])
        print("%s: %d runs each, %d cores; the program's figures are from the dialog's OK to the "
              "end (process wall time in brackets)" % (profile, args.runs, os.cpu_count()))
        for n in names[:1] + [over] + names[1:]:
            own = [o if o is not None else w for w, o in times[n]]
            med = statistics.median(own)
            wall = statistics.median(w for w, _ in times[n])
            print("  %-17s median %6.2f s (%6.2f)  best %6.2f s  median/unzip %.2f  runs %s" %
                  (n, med, wall, min(own), med / base, [round(t, 2) for t in own]))


if __name__ == "__main__":
    main()
