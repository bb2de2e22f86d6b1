#!/usr/bin/python3
"""A large folder without the disk space: N hard links named after the
files of a benchmark corpus, cycling through them.

    bench/make-link-folder.py [SRC] [DST] [N]

SRC defaults to /tmp/melodex-bench/corpus, DST to /tmp/melodex-bench/links100k,
N to 100000. Every link reads as a real MP3 file, but files sharing an inode
share their cached pages: use it for memory and listing figures, not for
cold-cache timing. Writes DST/expected.tsv for bench/check-output.py.
"""
import os
import shutil
import sys

src = sys.argv[1] if len(sys.argv) > 1 else "/tmp/melodex-bench/corpus"
dst = sys.argv[2] if len(sys.argv) > 2 else "/tmp/melodex-bench/links100k"
count = int(sys.argv[3]) if len(sys.argv) > 3 else 100_000
marker = ".melodex-bench-corpus"

rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(src, "expected.tsv"), encoding="utf-8")]
if os.path.isdir(dst):
    if os.listdir(dst) and not os.path.exists(os.path.join(dst, marker)):
        sys.exit("refusing to empty a folder this script did not make: " + dst)
    shutil.rmtree(dst)
os.makedirs(dst)
open(os.path.join(dst, marker), "w").close()
out = []
width = len(str(count))
for i in range(count):
    row = list(rows[i % len(rows)])
    name = "%0*d %s" % (width, i + 1, row[0])
    os.link(os.path.join(src, row[0]), os.path.join(dst, name))
    row[0] = name
    out.append("\t".join(row))
with open(os.path.join(dst, "expected.tsv"), "w", encoding="utf-8") as f:
    f.write("\n".join(out) + "\n")
print("linked %d names into %s" % (count, dst))
