#!/usr/bin/env bash
# A short run of fuzz/vbmp3_fuzzer (see fuzz/README.md) from the seeds alone:
# the corpus files, fuzz/make-tag-seeds.py's tags, fuzz/make-format-seeds.py's
# files of every other format and the hostile files of
# fuzz/make-hostile-seeds.py (up to 17 MB, hence -max_len), in a fresh
# build-fuzz/smoke/ each time. Fails on any crash, leak, sanitizer report or
# input slower than 30 s; the input is kept in build-fuzz/smoke/artifacts.
#     scripts/check-fuzz.sh [SECONDS]      default 60; MELODEX_CORPUS_DIR for the corpus
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build-fuzz"
corpus="${MELODEX_CORPUS_DIR:-$here/../shared/corpus}"
seconds="${1:-60}"
[[ -f "$corpus/no_tags.mp3" ]] || { echo "no MP3 corpus at $corpus" >&2; exit 1; }

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DMELODEX_BUILD_GUI=OFF -DMELODEX_BUILD_FUZZERS=ON \
    -DBUILD_TESTING=OFF -DMELODEX_WERROR="${MELODEX_WERROR:-OFF}" -DMELODEX_HARDENING=OFF >/dev/null
cmake --build "$build" --target vbmp3_fuzzer

smoke="$build/smoke"
rm -rf "$smoke"
mkdir -p "$smoke/corpus" "$smoke/artifacts"
shopt -s nullglob
cp "$corpus"/*.mp3 "$corpus"/*.MP3 "$corpus"/thirdparty/*.mp3 "$smoke/corpus/"
"$here/fuzz/make-tag-seeds.py" "$corpus/no_tags.mp3" "$smoke/corpus"
"$here/fuzz/make-hostile-seeds.py" "$corpus/no_tags.mp3" "$smoke/corpus"
"$here/fuzz/make-format-seeds.py" "$smoke/corpus"
chmod u+w "$smoke/corpus"/*
cd "$smoke"
"$build/fuzz/vbmp3_fuzzer" -max_total_time="$seconds" -max_len=$((18 << 20)) -timeout=30 -print_final_stats=1 \
    -artifact_prefix=artifacts/ corpus 2>fuzz.log || {
    tail -n 60 fuzz.log >&2
    echo "fuzz: the input that failed is in $smoke/artifacts" >&2
    exit 1
}
grep -E '^(Done|stat::number_of_executed_units)' fuzz.log || true
echo "fuzz: ${seconds} s without a finding"
