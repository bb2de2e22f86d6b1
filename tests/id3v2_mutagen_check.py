#!/usr/bin/python3
"""Second opinion on the ID3v2 reader: writes ID3v2.2/2.3/2.4 tags of mixed
shapes (extended headers, unsynchronisation, empty frames, bad frame IDs,
compressed and encrypted frames, UTF-16 with and without a byte order mark,
decoy comments, pictures, padding) in front of a little audio, and compares
what `melodex-cli info` shows with mutagen's reading of the same files.

    id3v2_mutagen_check.py MELODEX_CLI AUDIO.mp3 [--count N] [--seed S] [--keep DIR]

Exits 77 (skipped) when python3-mutagen is not installed. Shapes mutagen
reads against the ID3v2 documents are left out: grouping bytes (it keeps
them as text), UTF-16 texts without a mark after a big-endian one (it takes
them as little-endian), and an extended header in an unsynchronised ID3v2.3
tag (it reads the header's bytes as they are, then as many bytes past it as
the header holds, into the audio, and gives up undoing unsynchronisation).
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
import zlib

try:
    from mutagen.id3 import ID3
except ImportError:
    print("python3-mutagen is not installed: skipped")
    sys.exit(77)

TEXTS = ["Title", "桜の花びら", "Björk", "夜明けのメロディー", "Ω ♪", "rock & roll", "ÿ at ÿ", "a\u00ff\u00e0b"]
GENRES = {8: "Jazz", 13: "Pop", 17: "Rock", 24: "Soundtrack", 32: "Classical"}


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def unsynchronise(data):
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def encode(rng, v, text, latin1_ok=True):
    choices = [1, 1, 1] + ([0] if latin1_ok and text.isascii() else []) + ([2, 3] if v == 4 else [])
    enc = rng.choice(choices)
    if enc == 0:
        return b"\0", text.encode("latin-1")
    if enc == 1:
        kind = rng.choice(["le", "be", "none"])
        if kind == "be":
            return b"\x01", b"\xfe\xff" + text.encode("utf-16-be")
        return b"\x01", (b"\xff\xfe" if kind == "le" else b"") + text.encode("utf-16-le")
    if enc == 2:
        return b"\x02", text.encode("utf-16-be")
    return b"\x03", text.encode("utf-8")


def text_body(rng, v, text):
    enc, data = encode(rng, v, text)
    return enc + data


def comm_body(rng, v, desc, text):
    enc, d = encode(rng, v, desc, latin1_ok=False)
    if enc == b"\x01" and d == b"":
        d = b""  # an empty description with no mark; the text brings its own
    term = b"\0\0" if enc in (b"\x01", b"\x02") else b"\0"
    if enc == b"\x01":
        t = rng.choice([b"\xff\xfe" + text.encode("utf-16-le"), b"\xfe\xff" + text.encode("utf-16-be")])
    elif enc == b"\x02":
        t = text.encode("utf-16-be")
    else:
        t = text.encode("utf-8")
    return enc + b"eng" + d + term + t


# unsync: 0 none, 1 some ID3v2.4 frames, 2 all of them (the tag's flag says so)
def frame(rng, v, fid, body, unsync):
    if v == 2:
        return fid.encode() + len(body).to_bytes(3, "big") + body
    flags = 0
    if fid != "APIC" and rng.random() < 0.2:
        flags = 0x80 if v == 3 else 0x09  # compressed, with its length
        packed = zlib.compress(body)
        length = len(body) if rng.random() < 0.7 else rng.randrange(1, 200)  # sometimes wrong
        body = (length.to_bytes(4, "big") if v == 3 else synchsafe(length)) + packed
    if v == 4 and unsync and (unsync == 2 or rng.random() < 0.7):
        if not flags & 0x01:
            body = synchsafe(len(body)) + body
        flags |= 0x01 | (0x02 if unsync == 1 or rng.random() < 0.5 else 0)
        body = body[:4] + unsynchronise(body[4:])
    size = len(body).to_bytes(4, "big") if v == 3 else synchsafe(len(body))
    return fid.encode() + size + bytes([0, flags]) + body


def make_tag(rng):
    v = rng.choice([2, 3, 4])
    ids = {"title": "TT2", "artist": "TP1", "album": "TAL", "year": "TYE", "comment": "COM", "genre": "TCO"} \
        if v == 2 else {"title": "TIT2", "artist": "TPE1", "album": "TALB", "year": "TYER" if v == 3 else "TDRC",
                        "comment": "COMM", "genre": "TCON"}
    unsync = rng.choice([0, 0, 1, 2]) if v == 4 else 0
    year = str(rng.randrange(1960, 2030)) + rng.choice(["", "-05-01"])
    genre = rng.choice(list(GENRES))
    frames = [
        (ids["title"], text_body(rng, v, rng.choice(TEXTS))),
        (ids["artist"], text_body(rng, v, rng.choice(TEXTS))),
        (ids["album"], text_body(rng, v, rng.choice(TEXTS))),
        (ids["year"], b"\0" + year.encode()),
        (ids["comment"], comm_body(rng, v, "", rng.choice(TEXTS))),
        (ids["genre"], b"\0" + rng.choice(["(%d)" % genre, "%d" % genre, GENRES[genre]]).encode()),
    ]
    rng.shuffle(frames)
    extras = []
    if rng.random() < 0.4:
        extras.append(((ids["comment"]), comm_body(rng, v, "iTunNORM", " 0000 1234")))
    if rng.random() < 0.3:
        extras.append(("PIC" if v == 2 else "APIC", b"\0" + (b"PNG" if v == 2 else b"image/png\0") + b"\x03\0"
                       + bytes(rng.randrange(256) for _ in range(rng.randrange(10, 3000)))))
    if v > 2 and rng.random() < 0.3:
        extras.append(("TXXX", b"\0desc\0value"))
    if rng.random() < 0.3:
        extras.append((rng.choice(["TEN", "WXX"] if v == 2 else ["TENC", "WXXX", "TCOP"]), b""))
    for fid, body in extras:
        frames.insert(rng.randrange(len(frames) + 1), (fid, body))
    data = b"".join(frame(rng, v, fid, body, unsync) for fid, body in frames)
    if v > 2 and rng.random() < 0.3:  # a bad ID, stepped over by its size
        bad = b"Date" + (6).to_bytes(4, "big") + b"\0\0" + b"\0 2001"
        cut = rng.choice([0, len(data)])
        data = data[:cut] + bad + data[cut:]
    flags = 0x80 if v < 4 and rng.random() < 0.4 else 0
    if v > 2 and not flags & 0x80 and rng.random() < 0.4:
        flags |= 0x40
        crc = rng.random() < 0.5
        if v == 3:
            ext = (10 if crc else 6).to_bytes(4, "big") + (b"\x80\0" if crc else b"\0\0") + bytes(4) \
                + (b"\xff\xe1\x00\x12" if crc else b"")
        else:
            ext = synchsafe(12) + b"\x01\x20\x05\x01\x7f\x7f\x7f\x7f" if crc else synchsafe(6) + b"\x01\0"
        data = ext + data
    if flags & 0x80:
        data = unsynchronise(data)
    if unsync == 2:
        flags |= 0x80
    padding = rng.choice([0, 0, 16, 300])
    return b"ID3" + bytes([v, 0, flags]) + synchsafe(len(data) + padding) + data + bytes(padding)


def year_of(text):
    m = re.search(r"[0-9]{4}", text)
    return m.group(0) if m else ""


def mutagen_reading(path):
    tag = ID3(path, translate=False)  # its translation drops a TYER that is not a number

    def first(fid):
        frames = tag.getall(fid)
        return " ".join(str(t) for t in frames[0].text) if frames else ""
    years = tag.getall("TDRC") or tag.getall("TYER")
    comms = tag.getall("COMM")
    plain = [c for c in comms if c.desc == ""]
    comment = plain[0].text[0] if plain else (comms[0].text[0] if len(comms) == 1 else "")
    genres = tag.getall("TCON")
    return [first("TIT2"), first("TPE1"), first("TALB"), year_of(str(years[0].text[0])) if years else "",
            comment, genres[0].genres[0] if genres and genres[0].genres else ""]


def unescape(value):
    return re.sub(r"\\(t|r|n|\\|x[0-9a-f]{2})", lambda m: {"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}.get(
        m.group(1), chr(int(m.group(1)[1:], 16)) if m.group(1).startswith("x") else ""), value)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("audio")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep")
    args = ap.parse_args()
    audio = open(args.audio, "rb").read()[:6000]
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory() as tmp:
        folder = args.keep or tmp
        os.makedirs(folder, exist_ok=True)
        for i in range(args.count):
            with open(os.path.join(folder, "t%04d.mp3" % i), "wb") as f:
                f.write(make_tag(rng) + audio)
        out = subprocess.run([args.cli, "info", folder], check=True, capture_output=True, text=True).stdout
        failures = 0
        for line in out.splitlines():
            cols = line.split("\t")
            ours = [unescape(c) for c in cols[1:7]]
            theirs = mutagen_reading(os.path.join(folder, cols[0]))
            if ours != theirs:
                failures += 1
                print("%s: melodex %r, mutagen %r" % (cols[0], ours, theirs))
        print("%d files, %d differ" % (args.count, failures))
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
