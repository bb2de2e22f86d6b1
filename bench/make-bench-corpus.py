#!/usr/bin/python3
"""Writes the benchmark corpus: many MP3 files made by copying a few encoded
streams under varied tags, deterministically (same arguments, same bytes).

    bench/make-bench-corpus.py [OUTDIR] [--files N] [--seed S] [--format F]

OUTDIR defaults to /tmp/melodex-bench/corpus (for a format other than mp3,
/tmp/melodex-bench/F). It must be outside the repository; a folder that holds
other files is refused unless it was made by this script (it leaves a marker
file). Needs `lame` (Debian package).

--format flac, mp4, vorbis, opus, wav or aiff writes files of that format
instead: 1 to 2 s of audio each (WAV and AIFF mono at 22,050 Hz, so that the
folder stays small), made by copying a few dozen files encoded with tags
(`flac`, `oggenc`, `opusenc`, `ffmpeg`), which differ in their texts, length
and rate. Reading speed depends on the shape of each file, not on its audio.

Besides the audio files it writes, into OUTDIR:
  expected.tsv   one line per file, the columns of `melodex-cli info`
                 (kbps left empty for VBR streams: readers average differently)
  totals.txt     file count, total bytes, total whole seconds, and the mix
"""

import argparse
import array
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

MARKER = ".melodex-bench-corpus"

# Whole seconds are cut, not rounded, and readers differ on whether the
# encoder's delay and padding count: x.5 s sources give the same whole second
# either way.
DURATIONS = [5.5, 8.5, 12.5, 16.5, 19.5]

# name, input rate, channels, lame options, share of files, vbr, kbps
STREAM_KINDS = [
    ("cbr128_info", 44100, 2, ["-b", "128", "-m", "j"], 40, False, 128),
    ("cbr192_48k_info", 48000, 2, ["-b", "192", "-m", "s"], 10, False, 192),
    ("cbr64_mono_noinfo", 44100, 1, ["-b", "64", "-m", "m", "-t"], 20, False, 64),
    ("vbr_v2_xing", 44100, 2, ["-V", "2"], 21, True, None),
    ("mpeg2_22k_cbr64_info", 22050, 2, ["-b", "64"], 8, False, 64),
    ("vbr_noheader", 44100, 2, ["-V", "2", "-t"], 1, True, None),
]

GENRES_V1 = {8: "Jazz", 13: "Pop", 17: "Rock", 24: "Soundtrack", 32: "Classical"}

TITLES = ["桜の花びら", "夜明けのメロディー", "青い空と白い雲", "東京の夜", "風の歌を聴け",
          "ハルジオン", "星に願いを", "ｶﾀｶﾅ半角の歌", "Blue Moon", "Café del Mar",
          "Sigur Rós", "♪ラララ♪", "Ω の研究", "rock & roll", "Nocturne Op.9 No.2",
          "Ünterwegs", "みんなのうた", "第九 合唱"]
ARTISTS = ["山田太郎", "鈴木花子 & The Band", "Björk", "Beyoncé", "東京混声合唱団",
           "The Examples", "ｻｻﾞﾝ", "佐藤 一郎", "Orchestra <Live>"]
ALBUMS = ["ベスト・アルバム", "Greatest Hits", "春夏秋冬", "Live at 武道館", "初回限定盤",
          "Ångström", "Vol. 2"]
COMMENTS = ["", "テスト用のコメント", "ripped 2003", "高音質", "Ω≒Ж", "a \"quoted\" 'text'"]
# ID3v1 fields, written in CP932. A change here changes the generated files
# and expected.tsv, and with them every figure measured on the corpus.
V1_TITLES = ["桜の花びら", "東京の夜", "星に願いを", "ﾃｽﾄの歌", "夜明けのメロディー", "Plain ASCII"]
V1_ARTISTS = ["山田太郎", "鈴木花子", "佐藤 一郎", "ｻｻﾞﾝ楽団"]
V1_ALBUMS = ["ベスト", "春夏秋冬", "初回限定盤", "Demo"]
V1_COMMENTS = ["", "テスト", "高音質", "ripped"]


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


# ---------------------------------------------------------------- audio --

def half_second(rate, channels, kind, index):
    """Half a second of 16-bit PCM: a chord with a little noise, or near
    silence, or loud noise (to push a VBR encoder's bit rate around)."""
    n = rate // 2
    lcg = 12345 + index * 7919
    out = array.array("h", bytes(2 * n * channels))
    for i in range(n):
        lcg = (lcg * 1103515245 + 12345) & 0x7FFFFFFF
        noise = (lcg >> 16) - 16384
        if kind == "quiet":
            v = noise >> 10
        elif kind == "noise":
            v = noise
        else:
            t = (index * n + i) / rate
            v = int(7000 * math.sin(2 * math.pi * 440 * t) + 4000 * math.sin(2 * math.pi * 659 * t)) + (noise >> 5)
        for c in range(channels):
            out[i * channels + c] = v if c == 0 else (v * 3) // 4
    return out.tobytes()


def wav_bytes(rate, channels, pcm):
    hdr = b"RIFF" + (36 + len(pcm)).to_bytes(4, "little") + b"WAVEfmt "
    hdr += (16).to_bytes(4, "little") + (1).to_bytes(2, "little") + channels.to_bytes(2, "little")
    hdr += rate.to_bytes(4, "little") + (rate * channels * 2).to_bytes(4, "little")
    hdr += (channels * 2).to_bytes(2, "little") + (16).to_bytes(2, "little")
    return hdr + b"data" + len(pcm).to_bytes(4, "little") + pcm


BITRATES = {
    1: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def walk_frames(data):
    """Frame count, samples per frame, rate, and the Info/Xing header's
    (frames, delay, padding) or None. Layer III only, no tags in data."""
    pos, frames, first, rate, spf = 0, 0, None, 0, 0
    while pos + 4 <= len(data):
        h = int.from_bytes(data[pos:pos + 4], "big")
        assert h >> 21 == 0x7FF, "lost sync at %d" % pos
        ver = (h >> 19) & 3
        br_idx, sr_idx, pad = (h >> 12) & 15, (h >> 10) & 3, (h >> 9) & 1
        rate = RATES[ver][sr_idx]
        mpeg1 = ver == 3
        spf = 1152 if mpeg1 else 576
        kbps = BITRATES[1 if mpeg1 else 2][br_idx]
        length = (144 if mpeg1 else 72) * kbps * 1000 // rate + pad
        if first is None:
            first = (pos, h)
        frames += 1
        pos += length
    assert pos == len(data), "stream does not end on a frame boundary"
    pos0, h = first
    mono = (h >> 6) & 3 == 3
    mpeg1 = (h >> 19) & 3 == 3
    side = (17 if mono else 32) if mpeg1 else (9 if mono else 17)
    xing = 4 + side
    tag = data[xing:xing + 4]
    if tag not in (b"Xing", b"Info"):
        return frames, spf, rate, None
    flags = int.from_bytes(data[xing + 4:xing + 8], "big")
    assert flags & 15 == 15
    hdr_frames = int.from_bytes(data[xing + 8:xing + 12], "big")
    lame = xing + 120
    assert data[lame:lame + 4] == b"LAME"
    dp = int.from_bytes(data[lame + 21:lame + 24], "big")
    return frames - 1, spf, rate, (hdr_frames, dp >> 12, dp & 0xFFF)


def encode_streams(workdir):
    streams = {}
    for name, rate, channels, opts, _, vbr, kbps in STREAM_KINDS:
        tone = [half_second(rate, channels, "tone", k) for k in range(2)]
        quiet = half_second(rate, channels, "quiet", 0)
        noise = [half_second(rate, channels, "noise", k) for k in range(2)]
        for d in DURATIONS:
            halves = int(d * 2)
            if name == "vbr_noheader":
                # Near silence first, so the first frames are small and an
                # estimate from the first frame is far too long.
                parts = [quiet] * (halves // 3) + [noise[k % 2] for k in range(halves - halves // 3)]
            else:
                parts = [tone[k % 2] for k in range(halves)]
            wav = os.path.join(workdir, "in.wav")
            mp3 = os.path.join(workdir, "%s_%s.mp3" % (name, d))
            with open(wav, "wb") as f:
                f.write(wav_bytes(rate, channels, b"".join(parts)))
            subprocess.run(["lame", "--quiet", "--noreplaygain", *opts, wav, mp3], check=True)
            with open(mp3, "rb") as f:
                data = f.read()
            frames, spf, srate, header = walk_frames(data)
            untrimmed = frames * spf / srate
            whole = math.floor(untrimmed)
            if header:
                hdr_frames, delay, padding = header
                trimmed = (hdr_frames * spf - delay - padding) / srate
                assert math.floor(trimmed) == whole, (name, d, trimmed, untrimmed)
            assert srate == rate
            streams[(name, d)] = {"data": data, "rate": srate, "seconds": whole,
                                  "kbps": kbps, "vbr": vbr}
    return streams


# ----------------------------------------------------------------- tags --

def v23_frame(fid, body):
    return fid.encode() + len(body).to_bytes(4, "big") + b"\0\0" + body


def v24_frame(fid, body):
    return fid.encode() + synchsafe(len(body)) + b"\0\0" + body


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def id3v23(t, cover, padding):
    frames = []
    if cover is not None and cover[1] == "first":
        frames.append(v23_frame("APIC", b"\0image/png\0\x03\0" + cover[0]))
    frames.append(v23_frame("TIT2", b"\x01" + utf16(t["title"])))
    frames.append(v23_frame("TPE1", b"\x01" + utf16(t["artist"])))
    frames.append(v23_frame("TALB", b"\x01" + utf16(t["album"])))
    frames.append(v23_frame("TYER", b"\x00" + t["year"].encode()))
    frames.append(v23_frame("COMM", b"\x01jpn" + utf16("") + b"\0\0" + utf16(t["comment"])))
    frames.append(v23_frame("TCON", b"\x00" + ("(%d)" % t["genre_index"]).encode()))
    if cover is not None and cover[1] == "last":
        frames.append(v23_frame("APIC", b"\0image/png\0\x03\0" + cover[0]))
    body = b"".join(frames) + bytes(padding)
    return b"ID3\x03\x00\x00" + synchsafe(len(body)) + body


def id3v24(t, cover, padding):
    frames = []
    if cover is not None and cover[1] == "first":
        frames.append(v24_frame("APIC", b"\x03image/png\0\x03\0" + cover[0]))
    frames.append(v24_frame("TIT2", b"\x03" + t["title"].encode()))
    frames.append(v24_frame("TPE1", b"\x03" + t["artist"].encode()))
    frames.append(v24_frame("TALB", b"\x03" + t["album"].encode()))
    frames.append(v24_frame("TDRC", b"\x03" + t["date"].encode()))
    frames.append(v24_frame("COMM", b"\x03jpn\0" + t["comment"].encode()))
    frames.append(v24_frame("TCON", b"\x03" + t["genre"].encode()))
    if cover is not None and cover[1] == "last":
        frames.append(v24_frame("APIC", b"\x03image/png\0\x03\0" + cover[0]))
    body = b"".join(frames) + bytes(padding)
    return b"ID3\x04\x00\x00" + synchsafe(len(body)) + body


def v1_field(text, width):
    raw = text.encode("cp932")
    assert len(raw) <= width, text
    return raw + bytes(width - len(raw))


def id3v1(t):
    return (b"TAG" + v1_field(t["title"], 30) + v1_field(t["artist"], 30) + v1_field(t["album"], 30)
            + v1_field(t["year"], 4) + v1_field(t["comment"], 28) + b"\0" + bytes([t["track"]])
            + bytes([t["genre_index"]]))


def make_covers(rng):
    covers = []
    for size in (100_000, 150_000, 220_000, 300_000):
        png = b"\x89PNG\r\n\x1a\n" + rng.randbytes(size - 8)
        covers.append(png)
    return covers


# -------------------------------------------------------- other formats --

# format: extension, base files, seconds of each (whole seconds 1), rates
OTHER_FORMATS = {
    "flac": ".flac", "mp4": ".m4a", "vorbis": ".ogg", "opus": ".opus", "wav": ".wav", "aiff": ".aiff",
}
OTHER_DURATIONS = [1.25, 1.5, 1.75]
OTHER_VARIANTS = 36


def other_texts(r, ascii_only):
    pick = lambda xs: r.choice([x for x in xs if not ascii_only or x.isascii()] or ["Plain"])
    return {"title": pick(TITLES), "artist": pick(ARTISTS), "album": pick(ALBUMS),
            "year": str(r.randrange(1970, 2025)), "comment": pick(COMMENTS) or "note",
            "genre": r.choice(list(GENRES_V1.values()))}


def encode_other(fmt, work, i, t, seconds, rate, channels):
    """One tagged file of fmt, `seconds` long, as the format's usual tool writes it."""
    wav = os.path.join(work, "in.wav")
    pcm = b"".join(half_second(rate, channels, "tone", k) for k in range(4))
    pcm = pcm[:int(seconds * rate) * 2 * channels]
    with open(wav, "wb") as f:
        f.write(wav_bytes(rate, channels, pcm))
    out = os.path.join(work, "v%d%s" % (i, OTHER_FORMATS[fmt]))
    quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if fmt == "flac":
        subprocess.run(["flac", "-s", "-f", "-T", "TITLE=" + t["title"], "-T", "ARTIST=" + t["artist"],
                        "-T", "ALBUM=" + t["album"], "-T", "DATE=" + t["year"], "-T", "COMMENT=" + t["comment"],
                        "-T", "GENRE=" + t["genre"], "-o", out, wav], **quiet)
    elif fmt == "vorbis":
        subprocess.run(["oggenc", "-Q", "-q", "3", "-t", t["title"], "-a", t["artist"], "-l", t["album"],
                        "-d", t["year"], "-c", "COMMENT=" + t["comment"], "-G", t["genre"], "-o", out, wav],
                       **quiet)
    elif fmt == "opus":
        subprocess.run(["opusenc", "--quiet", "--title", t["title"], "--artist", t["artist"], "--album",
                        t["album"], "--date", t["year"], "--comment", "COMMENT=" + t["comment"], "--genre",
                        t["genre"], wav, out], **quiet)
    else:
        codec = {"mp4": ["-c:a", "aac", "-b:a", "128k"], "wav": ["-c:a", "pcm_s16le"],
                 "aiff": ["-c:a", "pcm_s16be", "-write_id3v2", "1"]}[fmt]
        meta = []
        for key in ("title", "artist", "album", "comment", "genre"):
            meta += ["-metadata", "%s=%s" % (key, t[key])]
        meta += ["-metadata", "date=" + t["year"]]
        subprocess.run(["ffmpeg", "-nostdin", "-y", "-i", wav, *meta, *codec, out], **quiet)
    with open(out, "rb") as f:
        return f.read()


def write_other_format(out, fmt, files, seed):
    """files copies of OTHER_VARIANTS encoded files, and their expected lines."""
    small = fmt in ("wav", "aiff")
    variants = []
    with tempfile.TemporaryDirectory(prefix="melodex-bench-") as work:
        for i in range(OTHER_VARIANTS):
            r = random.Random(seed * 7_919 + i)
            t = other_texts(r, ascii_only=small)
            seconds = OTHER_DURATIONS[i % len(OTHER_DURATIONS)]
            rate = 22050 if small else r.choice([44100, 48000])
            channels = 1 if small else 2
            data = encode_other(fmt, work, i, t, seconds, rate, channels)
            shown_rate = 48000 if fmt == "opus" else rate
            variants.append((t, data, shown_rate))
    expected = []
    total_bytes = 0
    width = len(str(files))
    for i in range(files):
        t, data, rate = variants[i % len(variants)]
        name = "%0*d %s - %s%s" % (width, i + 1, t["artist"].replace("/", "_"), t["title"].replace("/", "_"),
                                   OTHER_FORMATS[fmt])
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        total_bytes += len(data)
        expected.append("\t".join(clean(x) for x in [
            name, t["title"], t["artist"], t["album"], t["year"], t["comment"], t["genre"], "", str(rate),
            str(len(data)), "1", "ok"]))
    with open(os.path.join(out, "expected.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(expected) + "\n")
    with open(os.path.join(out, "totals.txt"), "w", encoding="utf-8") as f:
        f.write("files %d\nbytes %d\nseconds %d\nformat %s\n" % (files, total_bytes, files, fmt))
    print("wrote %d %s files, %d bytes into %s" % (files, fmt, total_bytes, out))


# ----------------------------------------------------------------- main --

def pick_kind(rng):
    r = rng.randrange(100)
    for kind in STREAM_KINDS:
        if r < kind[4]:
            return kind[0]
        r -= kind[4]
    raise AssertionError


def clean(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir", nargs="?")
    ap.add_argument("--files", type=int, default=10_000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--format", default="mp3", choices=["mp3", *OTHER_FORMATS])
    args = ap.parse_args()
    if args.outdir is None:
        args.outdir = "/tmp/melodex-bench/" + ("corpus" if args.format == "mp3" else args.format)

    out = os.path.abspath(args.outdir)
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if os.path.commonpath([out, repo]) == repo:
        sys.exit("refusing to write generated files inside the repository: " + out)
    if os.path.isdir(out) and os.listdir(out) and not os.path.exists(os.path.join(out, MARKER)):
        sys.exit("refusing to empty a folder this script did not make: " + out)
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    open(os.path.join(out, MARKER), "w").close()
    if args.format != "mp3":
        write_other_format(out, args.format, args.files, args.seed)
        return

    with tempfile.TemporaryDirectory(prefix="melodex-bench-") as work:
        streams = encode_streams(work)
    rng = random.Random(args.seed)
    covers = make_covers(rng)

    expected = []
    mix = {}
    total_bytes = total_seconds = 0
    width = len(str(args.files))
    for i in range(args.files):
        r = random.Random(args.seed * 1_000_003 + i)
        kind = pick_kind(r)
        dur = r.choice(DURATIONS)
        s = streams[(kind, dur)]
        layout = r.choices(["v23", "v24", "v1", "v23+v1"], weights=[40, 30, 20, 10])[0]
        cover = None
        if layout != "v1" and r.randrange(10) == 0:
            cover = (r.choice(covers), r.choice(["first", "last"]))
        padding = r.choice([0, 0, 256, 1024, 2048])
        gidx = r.choice(list(GENRES_V1))
        if layout == "v1":
            t = {"title": r.choice(V1_TITLES), "artist": r.choice(V1_ARTISTS), "album": r.choice(V1_ALBUMS),
                 "year": str(r.randrange(1970, 2025)), "comment": r.choice(V1_COMMENTS),
                 "track": r.randrange(1, 30), "genre_index": gidx}
        else:
            year = str(r.randrange(1970, 2025))
            t = {"title": r.choice(TITLES), "artist": r.choice(ARTISTS), "album": r.choice(ALBUMS),
                 "year": year, "date": year + r.choice(["", "-05-01"]), "comment": r.choice(COMMENTS),
                 "genre_index": gidx, "genre": r.choice([GENRES_V1[gidx], str(gidx), "(%d)" % gidx])}
        head = b""
        tail = b""
        if layout in ("v23", "v23+v1"):
            head = id3v23(t, cover, padding)
        elif layout == "v24":
            head = id3v24(t, cover, padding)
        if layout in ("v1", "v23+v1"):
            v1 = dict(t, title=r.choice(V1_TITLES), artist=r.choice(V1_ARTISTS), album=r.choice(V1_ALBUMS),
                      comment=r.choice(V1_COMMENTS) if t["comment"] else "", track=r.randrange(1, 30)) \
                if layout == "v23+v1" else t
            tail = id3v1(v1)
        data = head + s["data"] + tail
        name = "%0*d %s - %s.mp3" % (width, i + 1, t["artist"].replace("/", "_"), t["title"].replace("/", "_"))
        if i % 7 == 3:
            name = name[:-4] + ".MP3"
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        total_bytes += len(data)
        total_seconds += s["seconds"]
        key = "%s/%s%s" % (kind, layout, "+cover" if cover else "")
        mix[key] = mix.get(key, 0) + 1
        expected.append("\t".join(clean(x) for x in [
            name, t["title"], t["artist"], t["album"], t["year"], t["comment"], GENRES_V1[gidx],
            "" if s["vbr"] else str(s["kbps"]), str(s["rate"]), str(len(data)), str(s["seconds"]), "ok"]))

    with open(os.path.join(out, "expected.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(expected) + "\n")
    with open(os.path.join(out, "totals.txt"), "w", encoding="utf-8") as f:
        f.write("files %d\nbytes %d\nseconds %d\n" % (args.files, total_bytes, total_seconds))
        for k in sorted(mix):
            f.write("mix %s %d\n" % (k, mix[k]))
    print("wrote %d files, %d bytes, %d s of audio into %s" % (args.files, total_bytes, total_seconds, out))


if __name__ == "__main__":
    main()
