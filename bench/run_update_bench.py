#!/usr/bin/env python3
"""The updater's end-to-end time for one large file: a server of this script's own on loopback
offers one 300 MiB file as one archive (a zlib stream) in its information file, and the
updater's window (zv_update_bench: shown, one click on "Start") fetches the information file,
transfers the archive and installs the file. Its time runs from the server's receipt of the
archive's GET to the end of the click, when the file is in place and flushed to disk. The
peer, in the same rounds and from the same server: `curl -s -o FILE URL`, then zlib's inflate
of FILE with an fsync of the result (zv_inflate_peer), timed from its GET in the same way;
after it, `sync` is timed on its own (it also writes out the downloaded archive, and whatever
else is waiting on the machine). The two alternate, starting each round with the other one;
before every run the file system is flushed (not timed) and the outputs of the last run are
removed. Both installed files are compared with the original after each run (not timed).

Usage: run_update_bench.py [--runs N] [--build DIR] [--data DIR] [--display :N]
                           [--baseline RUNNER] [--unpack]

--baseline RUNNER runs another build's zv_update_bench in the same rotation.
--unpack times the unpacker alone (zv_update_bench --unpack: the archive from the page cache
into a new file, flushed; from the call, the runner's start-up left out) against
zv_inflate_peer (the whole process), without server and window.
--display :N shows the window on that X display (`Xvfb :N -screen 0 1400x900x24 &`,
`DISPLAY=:N openbox &`); without it the window is on the offscreen platform.

Printed per run: the wall time from the GET, its parts, the CPU time (user + sys) of the
processes run for it, and the load average. The data (bench/data/update/) is written once.
"""
import argparse
import http.server
import os
import random
import shutil
import socketserver
import statistics
import subprocess
import sys
import threading
import time
import urllib.parse
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import arg_parser, find_runner, use_display  # noqa: E402

SIZE = 300 * 1024 * 1024
ARCHIVE = "big.z"
FILE = "big.bin"


def content_blocks(seed=26):
    """300 MiB in 64 KiB blocks: log lines with random hex fields, one block in five random
    bytes; zlib -6 packs it to a little under half."""
    rnd = random.Random(seed)
    done = 0
    line = 0
    while done < SIZE:
        if rnd.random() < 0.2:
            block = rnd.randbytes(65536)
        else:
            hexes = rnd.randbytes(16 * 760).hex()
            lines = []
            for i in range(760):
                line += 1
                lines.append("2026-12-09 10:%02d:%02d.%03d INFO job %07d wrote %s\n" % (
                    line // 60000 % 60, line // 1000 % 60, line % 1000, line,
                    hexes[32 * i:32 * i + 32]))
            block = "".join(lines).encode()[:65536]
        block = block[:SIZE - done]
        done += len(block)
        yield block


def write_data(folder):
    """The original file, its archive and the information file offering it, once."""
    root = os.path.join(folder, "srv", "upd")
    original = os.path.join(folder, FILE)
    if os.path.exists(os.path.join(root, "iup.hinf")):
        return original, root
    os.makedirs(root, exist_ok=True)
    z = zlib.compressobj(6)
    with open(original + ".part", "wb") as raw, open(os.path.join(root, ARCHIVE), "wb") as packed:
        for block in content_blocks():
            raw.write(block)
            packed.write(z.compress(block))
        packed.write(z.flush())
    os.rename(original + ".part", original)

    def text(s):
        b = s.encode("cp1252")
        return len(b).to_bytes(4, "little", signed=True) + b

    def count(n):
        return n.to_bytes(4, "little", signed=True)

    everywhere = "a" + "-" * 18 + "0<installdir>\\"
    kb = "{:,}".format((SIZE + 1023) // 1024).replace(",", ".")
    info = count(1) + text("h2") + text("h3") + text("h4")
    info += text("Basis") + text("run") + text("") + text("") + text("") + text("") + text("")
    info += count(1)
    for field in (FILE, everywhere, "", "02.03.2024 04:05:06", ARCHIVE, kb, "", "", ""):
        info += text(field)
    with open(os.path.join(root, "iup.hinf"), "wb") as f:
        f.write(zlib.compress(info, 9))
    return original, root


class Handler(http.server.BaseHTTPRequestHandler):
    """Files below the served folder, sent with sendfile; every GET's arrival is logged with
    the monotonic clock, which the runner's marks share."""
    protocol_version = "HTTP/1.1"
    root = ""
    log = None

    def do_GET(self):
        arrived = time.monotonic_ns()
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        self.log.write("GET %s %d\n" % (path, arrived))
        self.log.flush()
        local = os.path.join(self.root, path.lstrip("/"))
        if not os.path.isfile(local):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(local, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.connection.sendfile(f)

    def log_message(self, *args):
        pass


def serve(root, log_path):
    """The server's own process: prints its port, then serves until killed."""
    Handler.root = root
    Handler.log = open(log_path, "a")
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


def last_get(log_path, path):
    with open(log_path) as f:
        hits = [line.split() for line in f if line.startswith("GET " + path + " ")]
    return int(hits[-1][2]) if hits else None


def run(cmd, env=None):
    """Runs cmd; its output, and the CPU time (user + sys) of it and its children."""
    before = os.times()
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    after = os.times()
    out = proc.stdout.decode(errors="replace")
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), out[-3000:]))
    cpu = (after.children_user - before.children_user + after.children_system -
           before.children_system)
    return out, cpu


def same_file(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        while True:
            p, q = x.read(1 << 20), y.read(1 << 20)
            if p != q:
                return False
            if not p:
                return True


def settle():
    os.sync()
    time.sleep(0.5)


def ours(runner, port, work, original, log_path):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    settle()
    load = os.getloadavg()[0]
    out, cpu = run([runner, "localhost:%d" % port, work])
    get = last_get(log_path, "/upd/" + ARCHIVE)
    marks = {}
    for line in out.splitlines():
        if line.startswith("mark "):
            _, what, ns = line.split()
            marks.setdefault(what, []).append(int(ns))
    installed = os.path.join(work, "inst", FILE)
    if not os.path.exists(installed) or not same_file(installed, original):
        sys.exit("the installed file differs from the original\n" + out[-3000:])
    end = marks["end"][-1]
    parts = {
        "body": (marks["body-end"][-1] - get) / 1e9,
        "to install": (marks["install-start"][-1] - marks["body-end"][-1]) / 1e9,
        "install": (end - marks["install-start"][-1]) / 1e9,
    }
    shutil.rmtree(work, ignore_errors=True)
    return (end - get) / 1e9, cpu, load, parts


def peer(inflate, port, work, original, log_path):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    settle()
    load = os.getloadavg()[0]
    archive = os.path.join(work, ARCHIVE)
    target = os.path.join(work, FILE)
    _, cpu1 = run(["curl", "-s", "-o", archive, "http://127.0.0.1:%d/upd/%s" % (port, ARCHIVE)])
    got = time.monotonic_ns()
    _, cpu2 = run([inflate, archive, target])
    end = time.monotonic_ns()
    start = time.monotonic()
    os.sync()
    sync = time.monotonic() - start
    get = last_get(log_path, "/upd/" + ARCHIVE)
    if not same_file(target, original):
        sys.exit("the peer's file differs from the original")
    shutil.rmtree(work, ignore_errors=True)
    return (end - get) / 1e9, cpu1 + cpu2, load, {"body": (got - get) / 1e9,
                                                  "install": (end - got) / 1e9, "sync": sync}


def unpack_alone(runner, archive, work, original):
    """The unpacker from the archive in the page cache into a new file, flushed."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    settle()
    load = os.getloadavg()[0]
    target = os.path.join(work, FILE)
    start = time.monotonic_ns()
    if runner.endswith("zv_inflate_peer"):
        out, cpu = run([runner, archive, target])
    else:
        out, cpu = run([runner, "--unpack", archive, target])
    end = time.monotonic_ns()
    # The runner's own marks leave out its start-up (loading its libraries).
    marks = dict(line.split()[1:] for line in out.splitlines() if line.startswith("mark "))
    wall = (int(marks.get("end", end)) - int(marks.get("unpack-start", start))) / 1e9
    if not same_file(target, original):
        sys.exit("the unpacked file differs from the original")
    shutil.rmtree(work, ignore_errors=True)
    return wall, cpu, load, {}


def main():
    ap = arg_parser(5)
    ap.add_argument("--baseline", help="another build's zv_update_bench, in the same rotation")
    ap.add_argument("--unpack", action="store_true", help="the unpacker alone against zlib")
    ap.add_argument("--serve", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.serve:
        serve(*args.serve)
        return
    use_display(args.display)
    runner = find_runner(args.build, "zv_update_bench")
    inflate = find_runner(args.build, "zv_inflate_peer")
    folder = os.path.join(args.data, "update")
    original, root = write_data(folder)
    log_path = os.path.join(folder, "server.log")
    if args.unpack:
        archive = os.path.join(root, ARCHIVE)
        tools = {"updater": runner, "zlib + fsync": inflate}
        if args.baseline:
            tools["baseline"] = args.baseline
        alternate(args, {name: (lambda r=r, n=name: unpack_alone(
            r, archive, os.path.join(folder, n.split()[0]), original))
            for name, r in tools.items()}, "zlib + fsync", folder)
        return
    server = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--serve",
                               os.path.dirname(root), log_path], stdout=subprocess.PIPE)
    try:
        port = int(server.stdout.readline())
        rounds(args, runner, inflate, port, folder, original, log_path)
    finally:
        server.terminate()
        server.wait()


def rounds(args, runner, inflate, port, folder, original, log_path):
    tools = {"updater": lambda: ours(runner, port, os.path.join(folder, "run"), original,
                                     log_path),
             "curl + zlib + fsync": lambda: peer(inflate, port, os.path.join(folder, "peer"),
                                                 original, log_path)}
    if args.baseline:
        tools["baseline"] = lambda: ours(args.baseline, port, os.path.join(folder, "base"),
                                         original, log_path)
    alternate(args, tools, "curl + zlib + fsync", folder)


def alternate(args, tools, peer_name, folder):
    """Runs the tools in alternated rounds, each round starting with the next one, and prints
    each run and the medians."""
    print("cores: %d, load average before: %.1f; archive %d bytes for %d bytes" % (
        len(os.sched_getaffinity(0)), os.getloadavg()[0],
        os.path.getsize(os.path.join(folder, "srv", "upd", ARCHIVE)), SIZE))
    names = list(tools)
    results = {n: [] for n in names}
    for r in range(args.runs):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            wall, cpu, load, parts = tools[name]()
            results[name].append((wall, cpu, parts))
            print("round %d %-20s %6.2f s  CPU %5.2f s  load %4.1f  %s" % (
                r + 1, name, wall, cpu, load,
                ", ".join("%s %.2f" % kv for kv in parts.items())), flush=True)
    print()
    medians = {}
    for name in names:
        walls = [w for w, _, _ in results[name]]
        medians[name] = statistics.median(walls)
        parts = {k: statistics.median(p[k] for _, _, p in results[name])
                 for k in results[name][0][2]}
        print("%-20s median %.2f s of %s, CPU %.2f s%s%s" % (
            name, medians[name], " / ".join("%.2f" % w for w in walls),
            statistics.median(c for _, c, _ in results[name]), "; parts " if parts else "",
            ", ".join("%s %.2f" % kv for kv in parts.items())))
    print("updater / peer: %.2f%s" % (medians["updater"] / medians[peer_name],
                                      " (goal 1.1)" if peer_name.startswith("curl") else ""))
    if args.baseline:
        print("baseline / peer: %.2f" % (medians["baseline"] / medians[peer_name]))
    print("load average after: %.1f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
