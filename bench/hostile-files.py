#!/usr/bin/env python3
"""Time and memory of builds of melodex-cli on the hostile files: chapters
nested 20,000 deep (and behind 7 junk bytes), a 1 GiB zlib bomb, an APE tag
of a million items, and a sparse 5 GiB file whose APE tag claims 4 GiB.

    bench/hostile-files.py [--limit-gib N] [--dir DIR] CLI...

Each file sits alone in a folder under DIR (default /tmp/melodex-bench/hostile,
made once; the sparse file takes no space) and is read with `CLI info`. One
line per file and build: how it ended (a signal, or the last column of the
line `info` printed: every file holds audio, so "unreadable" means the build
gave up), wall seconds, peak resident memory. An address-space limit
(default 8 GiB) keeps a build that balloons from taking a shared machine
down with it.
"""
import argparse
import os
import resource
import signal
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)


def make_files(folder):
    """The fuzzer's hostile seeds, and the sparse file the tests read."""
    audio = os.path.join(root, "..", "shared", "corpus", "no_tags.mp3")
    seeds = os.path.join(folder, "seeds")
    if not os.path.isdir(seeds):
        subprocess.run([os.path.join(root, "fuzz", "make-hostile-seeds.py"), audio, seeds], check=True)
    files = {name[:-4]: os.path.join(seeds, name) for name in sorted(os.listdir(seeds))
             if name != "ape_lying.mp3"}
    sparse = os.path.join(folder, "sparse_5gib.mp3")
    if not os.path.exists(sparse):
        footer = b"APETAGEX" + (2000).to_bytes(4, "little") + (0xFFFFFFFF).to_bytes(4, "little") \
            + (1000000).to_bytes(4, "little") + bytes(12)
        with open(os.path.join(seeds, "ape_lying.mp3"), "rb") as f:
            head = f.read()[:-32]
        with open(sparse, "wb") as f:
            f.write(head)
            f.truncate((5 << 30) - 32)
            f.seek(0, os.SEEK_END)
            f.write(footer)
    files["ape_claiming_4_gib_of_5"] = sparse
    # One folder a file, so that each `info` reads that one alone.
    folders = {}
    for name, path in files.items():
        one = os.path.join(folder, "one", name)
        os.makedirs(one, exist_ok=True)
        link = os.path.join(one, os.path.basename(path))
        if not os.path.exists(link):
            os.link(path, link)
        folders[name] = one
    return folders


def run(cli, folder, limit):
    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    start = time.monotonic()
    proc = subprocess.Popen([cli, "info", folder], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            preexec_fn=limited)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    if os.WIFSIGNALED(status):
        end = signal.Signals(os.WTERMSIG(status)).name
    else:
        code = os.WEXITSTATUS(status)
        end = "exit %d" % code if code else out.decode(errors="replace").rstrip("\n").split("\t")[-1]
    return end, seconds, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit-gib", type=float, default=8)
    parser.add_argument("--dir", default="/tmp/melodex-bench/hostile")
    parser.add_argument("cli", nargs="+")
    args = parser.parse_args()
    folders = make_files(args.dir)
    limit = int(args.limit_gib * (1 << 30))
    print("%-26s %-40s %-28s %9s %10s" % ("file", "build", "ended", "seconds", "peak MB"))
    for name, folder in folders.items():
        for cli in args.cli:
            end, seconds, peak = run(cli, folder, limit)
            print("%-26s %-40s %-28s %9.2f %10.1f" % (name, cli[-40:], end, seconds, peak))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
