#!/usr/bin/env bash
# Reading speed per format: for each format's folder of the bench corpus,
# `melodex-cli info` against the floor reader (open plus three small reads a
# file) in the same run, warm (hyperfine, median of RUNS runs) and cold
# (caches dropped before each of COLD runs; needs root), with the track
# reader alone (bench/details_reader, no read-ahead) beside them. A format
# the command line cannot list yet (no --formats) is timed through
# details_reader alone. Goals: info within 2x the floor warm, under it cold.
#
#   bench/run-formats.sh [ROOT] [RUNS] [COLD] [FORMAT...]
#
# ROOT defaults to /tmp/melodex-bench: the MP3 folder is ROOT/corpus, the
# others ROOT/flac, ROOT/mp4 ... (made with make-bench-corpus.py --format when
# missing). FORMATs default to every one. Builds Release into build-bench/,
# or takes the programs of BENCH_BUILD=DIR (a build tree) as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-/tmp/melodex-bench}
runs=${2:-5}
cold=${3:-3}
shift $(($# < 3 ? $# : 3))
formats=("$@")
((${#formats[@]})) || formats=(mp3 mp4 wav aiff flac vorbis opus)
build=${BENCH_BUILD:-build-bench}
out=$(mktemp -d /tmp/melodex-bench-formats.XXXXXX)
trap 'rm -rf "$out"' EXIT

command -v hyperfine >/dev/null || { echo "needs hyperfine (bench/run.sh installs it)" >&2; exit 1; }
if [[ -z ${BENCH_BUILD:-} ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMELODEX_BUILD_BENCH=ON -DBUILD_TESTING=OFF \
        -DMELODEX_BUILD_GUI=OFF >/dev/null
    cmake --build "$build" -j2 --target melodex-cli floor_reader details_reader >/dev/null
fi
cli=$build/melodex-cli
floor=$build/bench/floor_reader
details=$build/bench/details_reader
cliFormats=0
"$cli" info --help 2>&1 | grep -q -- --formats && cliFormats=1

declare -A exts=([mp3]=.mp3 [flac]=.flac [mp4]=.m4a,.m4b [vorbis]=.ogg,.oga [opus]=.opus [wav]=.wav
    [aiff]=.aif,.aiff)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2f", a / b }'; }
secs() { [[ -n $1 ]] && printf '%.3f' "$1" || printf -- '-'; }

printf '%-7s %6s %9s | %8s %8s %8s %6s | %8s %8s %8s %6s\n' format files MB "floor" info details "i/f" \
    "floor" info details "i/f"
printf '%-7s %6s %9s | %35s | %35s\n' "" "" "" "warm (median s)" "cold (median s)"
for f in "${formats[@]}"; do
    dir=$root/$([[ $f == mp3 ]] && echo corpus || echo "$f")
    [[ -d $dir ]] || bench/make-bench-corpus.py "$dir" --format "$f" >/dev/null
    declare -A cmd=([floor]="$floor $dir ${exts[$f]}" [details]="$details $dir $f")
    order=(floor details)
    if [[ $f == mp3 ]]; then
        cmd[info]="$cli info $dir"
    elif ((cliFormats)); then
        cmd[info]="$cli info --formats $f $dir"
    fi
    [[ -n ${cmd[info]:-} ]] && order=(floor info details)
    files=$($floor "$dir" "${exts[$f]}" 2>/dev/null | wc -l)
    mb=$(du -sm "$dir" | cut -f1)
    hf=()
    for k in "${order[@]}"; do hf+=(-n "$k" "${cmd[$k]}"); done
    hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/warm.json" "${hf[@]}" >/dev/null 2>&1
    declare -A warm=() coldt=()
    while read -r name med; do warm[$name]=$med; done < <(python3 -c '
import json, statistics, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(r["command"], statistics.median(r["times"]))' "$out/warm.json")
    if [[ $cold -gt 0 && -w /proc/sys/vm/drop_caches ]]; then
        for k in "${order[@]}"; do
            for ((i = 0; i < cold; i++)); do
                sync
                echo 3 >/proc/sys/vm/drop_caches
                start=$(date +%s.%N)
                ${cmd[$k]} >/dev/null 2>&1
                end=$(date +%s.%N)
                awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
            done | median >"$out/cold"
            coldt[$k]=$(cat "$out/cold")
        done
    fi
    printf '%-7s %6s %9s | %8s %8s %8s %6s | %8s %8s %8s %6s\n' "$f" "$files" "$mb" \
        "$(secs "${warm[floor]:-}")" "$(secs "${warm[info]:-}")" "$(secs "${warm[details]:-}")" \
        "$(ratio "${warm[info]:-${warm[details]:-}}" "${warm[floor]:-}")" \
        "$(secs "${coldt[floor]:-}")" "$(secs "${coldt[info]:-}")" "$(secs "${coldt[details]:-}")" \
        "$(ratio "${coldt[info]:-${coldt[details]:-}}" "${coldt[floor]:-}")"
    unset cmd
done
echo "i/f: info (details where info cannot list the format) over the floor; goals warm <= 2, cold < 1"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (timings are shared with whatever else runs)"
