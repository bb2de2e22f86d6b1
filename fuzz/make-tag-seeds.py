#!/usr/bin/python3
"""Writes small seed files for vbmp3_fuzzer: ID3v2.2/2.3/2.4 tags (several
encodings, comments, genre codes, pictures, padding; extended headers,
unsynchronisation, empty and compressed frames, grouping and length bytes),
with and without an ID3v1 block, in front of a few frames of a corpus file;
and APE tags (a header, several values, binary items, any key case) after them.
Mutations of these reach the tag reader's corners, and the places where the
plain reader and TagLib could disagree, far sooner than mutations of whole
files.

    fuzz/make-tag-seeds.py AUDIO.mp3 OUTDIR
"""
import os
import sys
import zlib


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(v, fid, body, flags=b"\0\0"):
    return fid.encode() + (synchsafe(len(body)) if v == 4 else len(body).to_bytes(4, "big")) + flags + body


def tag(v, frames, padding=0, flags=0):
    return b"ID3" + bytes([v, 0, flags]) + synchsafe(len(frames) + padding) + frames + bytes(padding)


def frame22(fid, body):
    return fid.encode() + len(body).to_bytes(3, "big") + body


def unsynchronise(data):
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def utf16(s):
    return b"\xff\xfe" + s.encode("utf-16-le")


def id3v1(title, year, comment, track, genre):
    def field(s, n):
        return (s + bytes(n))[:n]
    rest = field(comment, 28) + b"\0" + bytes([track]) if track else field(comment, 30)
    return b"TAG" + field(title, 30) + field(b"Artist", 30) + field(b"Album", 30) + field(year, 4) + rest \
        + bytes([genre])


def ape(items, header=True):
    def le32(n):
        return n.to_bytes(4, "little")
    body = b"".join(le32(len(v)) + le32(flags) + k + b"\0" + v for k, v, flags in items)
    def part(flags):
        return b"APETAGEX" + le32(2000) + le32(len(body) + 32) + le32(len(items)) + le32(flags) + bytes(8)
    return (part(0xA0000000) if header else b"") + body + part(0x80000000 if header else 0)


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
    ff = b"\x01" + utf16("ÿ タイトル")
    seeds.append(tag(3, unsynchronise((6).to_bytes(4, "big") + bytes(6) + frame(3, "TIT2", ff)
                                      + frame(3, "TENC", b"") + frame(3, "Date", b"\0x")
                                      + frame(3, "TPE1", (7).to_bytes(4, "big") + zlib.compress(b"\0Artist"),
                                              b"\0\x80")), 8, 0xC0))
    seeds.append(tag(4, synchsafe(12) + b"\x01\x20\x05\x01\x7f\x7f\x7f\x7f"
                     + frame(4, "TIT2", synchsafe(len(ff)) + unsynchronise(ff), b"\0\x03")
                     + frame(4, "TCON", synchsafe(3) + zlib.compress(b"\x0013"), b"\0\x09")
                     + frame(4, "TPE1", b"\x81\0grouped", b"\0\x40") + frame(4, "TALB", b"\x80enc", b"\0\x04")
                     + frame(4, "COMM", b"\x01eng\xfe\xff\0\0\0b\0e"), 0, 0x40))
    seeds.append(tag(2, unsynchronise(frame22("TT2", ff) + frame22("TP1", b"\0Artist") + frame22("TYE", b"\0Oct 3, 1995")
                                      + frame22("COM", b"\0eng\0c") + frame22("TCO", b"\0(13)")), 4, 0x80))
    v1 = id3v1(b"\x93\x8c\x8b\x9e title", b"2004", b" comment ", 5, 13)
    for i, s in enumerate(seeds):
        open(os.path.join(out, "tag%d.mp3" % i), "wb").write(s + audio)
        open(os.path.join(out, "tag%d_v1.mp3" % i), "wb").write(s + audio + v1)
    open(os.path.join(out, "v1_only.mp3"), "wb").write(audio + id3v1(b" \t t ", b"19", b"x" * 30, 0, 255))
    items = [(b"Title", "タイトル".encode(), 0), (b"ARTIST", b"a\0b", 0), (b"album", b"bin", 2),
             (b"Year", b"2003-05", 0), (b"Track", b"7/9", 0), (b"Genre", b"(13)", 0), (b"Comment", b"\x93\x8c", 0),
             (b"Cover Art (Front)", b"x.png\0" + bytes(200), 2)]
    open(os.path.join(out, "ape.mp3"), "wb").write(audio + ape(items))
    open(os.path.join(out, "ape_v1.mp3"), "wb").write(audio + ape(items[:3], False) + v1)


if __name__ == "__main__":
    main()
