#!/usr/bin/env bash
# Reading speed of `melodex-cli info` (and `list`) against plain TagLib and
# against the floor (open + the three small reads any reader needs), in one
# run: warm page cache (hyperfine, median and minimum of RUNS runs), cold
# page cache (caches dropped before each of COLD runs; needs root), system
# calls per file (strace -c -f) and peak RSS (/usr/bin/time -v).
#
#   bench/run.sh [FOLDER] [RUNS] [COLD]
#
# FOLDER defaults to /tmp/melodex-bench/corpus (made here when missing).
# Builds Release into build-bench/. Checks the output against the corpus'
# expected.tsv when there is one; with BASELINE_CLI=/path/to/melodex-cli it
# also checks that the output is byte for byte that program's.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/tmp/melodex-bench/corpus}
runs=${2:-7}
cold=${3:-3}
build=build-bench
out=$(mktemp -d /tmp/melodex-bench-run.XXXXXX)
trap 'rm -rf "$out"; rm -f "$folder/bench-list.htm"' EXIT

# What the benchmarks need beyond scripts/install-deps.sh.
need=()
for p in lame hyperfine strace time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [[ ! -d $folder ]]; then
    bench/make-bench-corpus.py "$folder"
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMELODEX_BUILD_BENCH=ON -DBUILD_TESTING=OFF \
    -DMELODEX_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j2 --target melodex-cli floor_reader taglib_reader >/dev/null

cli=$build/melodex-cli
floor=$build/bench/floor_reader
taglib=$build/bench/taglib_reader
files=$(find "$folder" -maxdepth 1 -type f -iname '*.mp3' ! -name '.*' | wc -l)
echo "folder $folder: $files files, $(du -sh "$folder" | cut -f1)"

# Results first: a fast wrong answer is no answer.
"$cli" info "$folder" >"$out/info.txt"
if [[ -f $folder/expected.tsv ]]; then
    bench/check-output.py "$folder" "$out/info.txt" || echo "!! output differs from expected.tsv"
fi
if [[ -n ${BASELINE_CLI:-} ]]; then
    "$BASELINE_CLI" info "$folder" >"$out/baseline.txt"
    if cmp -s "$out/info.txt" "$out/baseline.txt"; then
        echo "output byte-identical to $BASELINE_CLI"
    else
        echo "!! output differs from $BASELINE_CLI"
    fi
fi

declare -A cmd=(
    [floor]="$floor $folder"
    [taglib]="$taglib $folder"
    [info]="$cli info $folder"
    [list]="$cli list $folder --output bench-list.htm"
)
order=(floor taglib info list)

# Warm: hyperfine runs each program RUNS times after a warm-up run.
hf=()
for k in "${order[@]}"; do hf+=(-n "$k" "${cmd[$k]}"); done
hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/warm.json" "${hf[@]}" >/dev/null 2>&1
declare -A warm_med warm_min
while read -r name med min; do
    warm_med[$name]=$med
    warm_min[$name]=$min
done < <(python3 -c '
import json, statistics, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(r["command"], statistics.median(r["times"]), min(r["times"]))' "$out/warm.json")

# Cold: every page of the corpus dropped before each run.
declare -A cold_med
if [[ $cold -gt 0 && -w /proc/sys/vm/drop_caches ]]; then
    for k in "${order[@]}"; do
        times=()
        for ((i = 0; i < cold; i++)); do
            sync
            echo 3 >/proc/sys/vm/drop_caches
            start=$(date +%s.%N)
            ${cmd[$k]} >/dev/null 2>&1
            end=$(date +%s.%N)
            times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
        done
        cold_med[$k]=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    done
fi

# System calls per file and peak memory (one run each, warm).
declare -A calls rss
for k in "${order[@]}"; do
    total=$(strace -c -f -o "$out/strace.txt" ${cmd[$k]} >/dev/null 2>&1; awk '/ total$/ { print $4 }' "$out/strace.txt")
    calls[$k]=$(awk -v t="$total" -v n="$files" 'BEGIN { printf "%.1f", t / n }')
    /usr/bin/time -v -o "$out/time.txt" ${cmd[$k]} >/dev/null 2>&1
    rss[$k]=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$out/time.txt")
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2f", a / b }'; }
printf '\n%-8s %10s %10s %10s %12s %9s\n' program "warm med" "warm min" "cold med" "calls/file" "RSS MB"
for k in "${order[@]}"; do
    printf '%-8s %9.3fs %9.3fs %9ss %12s %9s\n' "$k" "${warm_med[$k]}" "${warm_min[$k]}" "${cold_med[$k]:--}" \
        "${calls[$k]}" "${rss[$k]}"
done
echo
for k in info list; do
    echo "$k / taglib: warm $(ratio "${warm_med[$k]}" "${warm_med[taglib]}") (goal <= 1.2)," \
        "cold $(ratio "${cold_med[$k]:-}" "${cold_med[taglib]:-}")"
    echo "$k / floor:  warm $(ratio "${warm_med[$k]}" "${warm_med[floor]}") (goal <= 2)," \
        "cold $(ratio "${cold_med[$k]:-}" "${cold_med[floor]:-}") (goal <= 1.2)"
done
echo "taglib / floor: warm $(ratio "${warm_med[taglib]}" "${warm_med[floor]}"), cold $(ratio "${cold_med[taglib]:-}" "${cold_med[floor]:-}")"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (timings are shared with whatever else runs)"
