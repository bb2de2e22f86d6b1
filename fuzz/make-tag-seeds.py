#!/usr/bin/python3
"""Writes small seed files for vbmp3_fuzzer: ID3v2.3/2.4 tags of the shapes
the plain tag reader takes (several encodings, comments, genre codes,
pictures, padding), with and without an ID3v1 block, in front of a few
frames of a corpus file. Mutations of these reach the places where the plain
reader and TagLib could disagree far sooner than mutations of whole files.

    fuzz/make-tag-seeds.py AUDIO.mp3 OUTDIR
"""
import os
import sys


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(v, fid, body, flags=b"\0\0"):
    return fid.encode() + (synchsafe(len(body)) if v == 4 else len(body).to_bytes(4, "big")) + flags + body


def tag(v, frames, padding=0):
    return b"ID3" + bytes([v, 0, 0]) + synchsafe(len(frames) + padding) + frames + bytes(padding)


def utf16(s):
    return b"\xff\xfe" + s.encode("utf-16-le")


def id3v1(title, year, comment, track, genre):
    def field(s, n):
        return (s + bytes(n))[:n]
    rest = field(comment, 28) + b"\0" + bytes([track]) if track else field(comment, 30)
    return b"TAG" + field(title, 30) + field(b"Artist", 30) + field(b"Album", 30) + field(year, 4) + rest \
        + bytes([genre])


def main():
    audio = open(sys.argv[1], "rb").read()[:6000]
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    seeds = []
    for v in (3, 4):
        seeds.append(tag(v, frame(v, "TIT2", b"\0\x93\x8c\x8b\x9e") + frame(v, "TPE1", b"\x01" + utf16("桜 Ω"))
                         + frame(v, "TALB", b"\x03caf\xc3\xa9\0")
                         + frame(v, "TYER" if v == 3 else "TDRC", b"\x001999")
                         + frame(v, "COMM", b"\x01jpn" + utf16("") + b"\0\0" + utf16("コメント"))
                         + frame(v, "TCON", b"\0(13)Rock") + frame(v, "TRCK", b"\x003/12"), 64))
        seeds.append(tag(v, frame(v, "APIC", b"\0image/png\0\x03\0" + bytes(300)) + frame(v, "TIT2", b"\x03a\0b")
                         + frame(v, "COMM", b"\0engiTunNORM\0 00") + frame(v, "COMM", b"\0eng\0real"), 16))
        seeds.append(tag(v, frame(v, "TCON", b"\0(RX)(13)\0Pop") + frame(v, "TIT2", b"\x02" + "東京".encode("utf-16-be"))))
    v1 = id3v1(b"\x93\x8c\x8b\x9e title", b"2004", b" comment ", 5, 13)
    for i, s in enumerate(seeds):
        open(os.path.join(out, "tag%d.mp3" % i), "wb").write(s + audio)
        open(os.path.join(out, "tag%d_v1.mp3" % i), "wb").write(s + audio + v1)
    open(os.path.join(out, "v1_only.mp3"), "wb").write(audio + id3v1(b" \t t ", b"19", b"x" * 30, 0, 255))


if __name__ == "__main__":
    main()
