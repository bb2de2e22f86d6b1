#!/usr/bin/python3
"""Checks `melodex-cli info` output against the corpus' expected.tsv.

    bench/check-output.py CORPUS_DIR INFO_OUTPUT

Tags, Hz, bytes and whole seconds must match exactly; CBR kbps within 1
(readers average the Info header's byte count differently). Prints the
totals and exits non-zero on any difference.
"""
import sys


def main():
    corpus, output = sys.argv[1], sys.argv[2]
    expected = {}
    with open(corpus + "/expected.tsv", encoding="utf-8") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            expected[cols[0]] = cols
    bad = 0
    seen = 0
    total_bytes = total_seconds = 0
    with open(output, encoding="utf-8") as f:
        for line in f:
            got = line.rstrip("\n").split("\t")
            want = expected.get(got[0])
            seen += 1
            if want is None:
                print("unexpected file:", got[0])
                bad += 1
                continue
            total_bytes += int(got[9])
            total_seconds += int(got[10])
            diffs = [(i, want[i], got[i]) for i in (1, 2, 3, 4, 5, 6, 8, 9, 10, 11) if want[i] != got[i]]
            if want[7] and abs(int(want[7]) - int(got[7])) > 1:
                diffs.append((7, want[7], got[7]))
            if diffs:
                bad += 1
                if bad <= 10:
                    print(got[0], diffs)
    print("files %d (expected %d), bytes %d, seconds %d, differing %d" %
          (seen, len(expected), total_bytes, total_seconds, bad))
    sys.exit(1 if bad or seen != len(expected) else 0)


if __name__ == "__main__":
    main()
