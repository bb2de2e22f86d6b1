#!/usr/bin/env bash
# What writing the page costs on top of reading the tracks: times
# `melodex-cli list` against `melodex-cli info` over the same folder, warm
# cache, and prints the median of each and their ratio (goal: at most 1.1).
#
#   bench/list_vs_info.sh [FOLDER] [RUNS]
#
# FOLDER defaults to the benchmark corpus (bench/make-bench-corpus.py);
# MELODEX_CLI names the program (default build/melodex-cli). The list is
# written as FOLDER/bench-list.htm and removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/tmp/melodex-bench/corpus}
runs=${2:-5}
cli=${MELODEX_CLI:-build/melodex-cli}
[[ -x $cli ]] || { echo "no $cli: build first" >&2; exit 1; }
[[ -d $folder ]] || { echo "no $folder: run bench/make-bench-corpus.py" >&2; exit 1; }
trap 'rm -f "$folder/bench-list.htm"' EXIT

seconds() { # runs the command once, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

"$cli" info "$folder" >/dev/null 2>&1 || true # warm the page cache
info_times=() list_times=()
for ((i = 0; i < runs; i++)); do
    info_times+=("$(seconds "$cli" info "$folder")")
    list_times+=("$(seconds "$cli" list "$folder" --output bench-list.htm)")
done
info=$(printf '%s\n' "${info_times[@]}" | median)
list=$(printf '%s\n' "${list_times[@]}" | median)
files=$(find "$folder" -maxdepth 1 -iname '*.mp3' ! -name '.*' | wc -l)
printf 'files %d, runs %d\ninfo  %.3f s (median)\nlist  %.3f s (median)\nratio %.3f\n' \
    "$files" "$runs" "$info" "$list" "$(awk -v a="$list" -v b="$info" 'BEGIN { print a / b }')"
