#!/usr/bin/python3
"""Writes small seed files of every format beside MP3 for vbmp3_fuzzer: FLAC
(plain, with an ID3v2 tag in front, in Ogg), Ogg Vorbis, Opus, M4A (AAC and
ALAC, moov first and last, fragmented), WAV (LIST INFO, an id3 chunk, RF64,
RIFX) and AIFF/AIFF-C, each a fraction of a second with tags of several
values. The fuzzer reads each under the name its content suggests, so
mutations of these reach the container walks far sooner than mutations of
MP3 files would.

    fuzz/make-format-seeds.py OUTDIR
"""
import os
import subprocess
import sys
import tempfile

TAGS = [("title", "Seed title"), ("artist", "First"), ("artist", "Second"), ("album", "Seeds"),
        ("date", "2003-05-01"), ("comment", "fuzz"), ("genre", "Rock")]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ffmpeg(tmp, out, *args, tags=True):
    meta = []
    if tags:
        for key, value in TAGS:
            meta += ["-metadata", f"{key}={value}"]
    run("ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.3:sample_rate=8000",
        *meta, *args, out)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "src.wav")
        ffmpeg(tmp, wav, "-ac", "1", tags=False)
        p = lambda name: os.path.join(out, "seed-" + name)
        # FLAC and FLAC in Ogg
        run("flac", "-s", "-f", "-T", "TITLE=Seed title", "-T", "ARTIST=First", "-T", "ARTIST=Second",
            "-o", p("plain.flac"), wav)
        run("flac", "-s", "-f", "--ogg", "-T", "TITLE=Seed title", "-o", p("in-ogg.oga"), wav)
        with open(p("plain.flac"), "rb") as f:
            flac = f.read()
        tag = b"ID3\x03\x00\x00\x00\x00\x00\x0f" + b"TIT2\x00\x00\x00\x05\x00\x00\x00id3"
        with open(p("id3-before.flac"), "wb") as f:
            f.write(tag + flac)
        # Ogg Vorbis and Opus
        run("oggenc", "-Q", "-q", "0", "-t", "Seed title", "-a", "First", "-c", "ARTIST=Second",
            "-o", p("vorbis.ogg"), wav)
        run("opusenc", "--quiet", "--title", "Seed title", "--artist", "First", "--artist", "Second",
            wav, p("opus.opus"))
        # MP4: AAC with moov first and last, ALAC, fragmented
        ffmpeg(tmp, p("aac.m4a"), "-c:a", "aac", "-b:a", "32k", "-movflags", "+faststart")
        ffmpeg(tmp, p("aac-moov-last.m4a"), "-c:a", "aac", "-b:a", "32k")
        ffmpeg(tmp, p("alac.m4a"), "-c:a", "alac")
        ffmpeg(tmp, p("fragmented.m4a"), "-c:a", "aac", "-b:a", "32k",
               "-movflags", "+frag_keyframe+empty_moov")
        # WAV (LIST INFO; RF64), AIFF, AIFF-C
        ffmpeg(tmp, p("info.wav"), "-ac", "1", "-c:a", "pcm_s16le")
        ffmpeg(tmp, p("rf64.wav"), "-ac", "1", "-c:a", "pcm_s16le", "-rf64", "always")
        ffmpeg(tmp, p("plain.aiff"), "-ac", "1", "-c:a", "pcm_s16be", "-write_id3v2", "1")
        ffmpeg(tmp, p("aifc.aif"), "-ac", "1", "-c:a", "pcm_s16le", "-f", "aiff")
        # RIFX by hand: WAV's chunks big-endian
        with open(p("info.wav"), "rb") as f:
            riff = f.read()
        with open(p("rifx.wav"), "wb") as f:
            f.write(rifx(riff))
        # An id3 chunk beside LIST INFO, as some taggers add one
        id3 = b"id3 " + len(tag).to_bytes(4, "little") + tag + (b"\0" if len(tag) % 2 else b"")
        body = riff[8:] + id3
        with open(p("id3.wav"), "wb") as f:
            f.write(b"RIFF" + len(body).to_bytes(4, "little") + body)


def rifx(riff):
    """The same file as RIFX: sizes and the fmt fields big-endian, samples swapped."""
    out = bytearray(b"RIFX" + riff[4:8][::-1] + riff[8:12])
    pos = 12
    while pos + 8 <= len(riff):
        cid, size = riff[pos:pos + 4], int.from_bytes(riff[pos + 4:pos + 8], "little")
        body = bytearray(riff[pos + 8:pos + 8 + size])
        if cid == b"fmt ":
            for at, n in ((0, 2), (2, 2), (4, 4), (8, 4), (12, 2), (14, 2)):
                body[at:at + n] = body[at:at + n][::-1]
        elif cid == b"LIST":
            at = 4
            while at + 8 <= len(body):
                n = int.from_bytes(body[at + 4:at + 8], "little")
                body[at + 4:at + 8] = n.to_bytes(4, "big")
                at += 8 + n + n % 2
        elif cid == b"data":
            for i in range(0, len(body) - 1, 2):
                body[i], body[i + 1] = body[i + 1], body[i]
        out += cid + size.to_bytes(4, "big") + body + (b"\0" if size % 2 else b"")
        pos += 8 + size + size % 2
    return bytes(out)


if __name__ == "__main__":
    main()
