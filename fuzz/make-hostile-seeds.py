#!/usr/bin/python3
"""Writes the hostile files that crashed or ballooned TagLib as seeds for
vbmp3_fuzzer, at full size (up to 17 MB each, so they are made, not kept):

  chapters.mp3       an ID3v2.4 tag of chapters (CHAP) nested 20,000 deep, and an APE tag
  chapters_junk.mp3  the same behind 7 bytes of junk
  bomb.mp3           a TIT2 frame zlib-compressed from 1 GiB, and an APE tag
  ape_million.mp3    an APE tag of a million items, each of its own key
  ape_lying.mp3      an APE footer that claims a 4 GiB tag (the tests read it
                     in a sparse 5 GiB file; a fuzzer input lives in memory)

    fuzz/make-hostile-seeds.py AUDIO.mp3 OUTDIR

scripts/check-fuzz.sh passes -max_len large enough for the largest.
"""
import os
import sys
import zlib


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(v, fid, body, flags=b"\0\0"):
    return fid.encode() + (synchsafe(len(body)) if v == 4 else len(body).to_bytes(4, "big")) + flags + body


def tag(v, frames):
    return b"ID3" + bytes([v, 0, 0]) + synchsafe(len(frames)) + frames


def le32(n):
    return n.to_bytes(4, "little")


def ape_footer(body_bytes, items):
    return b"APETAGEX" + le32(2000) + le32(body_bytes + 32) + le32(items) + le32(0) + bytes(8)


def ape(items):
    body = b"".join(le32(len(v)) + le32(0) + k + b"\0" + v for k, v in items)
    return body + ape_footer(len(body), len(items))


def nested_chapters(depth):
    """Chapters each holding the next, outermost first: a chapter's body is
    its element ID, times and offsets, then the chapter inside."""
    inner = frame(4, "TIT2", b"\0deep")
    head = b"c\0" + bytes(16)
    sizes, size = [], len(inner)
    for _ in range(depth):
        size += len(head)
        sizes.append(size)
        size += 10
    return b"".join(b"CHAP" + synchsafe(s) + b"\0\0" + head for s in reversed(sizes)) + inner


def bomb():
    c = zlib.compressobj(9)
    out = [c.compress(b"\0bomb")]
    zeros = bytes(1 << 20)
    out += [c.compress(zeros) for _ in range(1024)]
    out.append(c.flush())
    return b"".join(out)


def main():
    audio = open(sys.argv[1], "rb").read()[:6000]
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    title = ape([(b"Title", b"APE")])
    chapters = tag(4, nested_chapters(20000))
    seeds = {
        "chapters.mp3": chapters + audio + title,
        "chapters_junk.mp3": b"junkjun" + chapters + audio + title,
        "bomb.mp3": tag(3, frame(3, "TIT2", ((1 << 30) + 5).to_bytes(4, "big") + bomb(), b"\0\x80")) + audio + title,
        "ape_million.mp3": audio + ape([(b"Title", b"APE")] + [(b"K%06d" % i, b"v") for i in range(1000000)]),
        "ape_lying.mp3": tag(3, frame(3, "TIT2", b"\0lying")) + audio + ape_footer(0xFFFFFFFF - 32, 1000000),
    }
    for name, data in seeds.items():
        open(os.path.join(out, name), "wb").write(data)


if __name__ == "__main__":
    main()
