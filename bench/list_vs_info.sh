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

# Wall time and CPU time (user + system) of one run, in seconds. On a busy
# machine CPU time is the steadier of the two.
measure() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; } 2>&1)
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$t"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

"$cli" info "$folder" >/dev/null 2>&1 || true # warm the page cache
info_runs=() list_runs=()
for ((i = 0; i < runs; i++)); do
    info_runs+=("$(measure "$cli" info "$folder")")
    list_runs+=("$(measure "$cli" list "$folder" --output bench-list.htm)")
done
column() { printf '%s\n' "${@:2}" | awk -v c="$1" '{ print $c }' | median; }
info_wall=$(column 1 "${info_runs[@]}") info_cpu=$(column 2 "${info_runs[@]}")
list_wall=$(column 1 "${list_runs[@]}") list_cpu=$(column 2 "${list_runs[@]}")
files=$(find "$folder" -maxdepth 1 -iname '*.mp3' ! -name '.*' | wc -l)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf 'files %d, runs %d, medians\n' "$files" "$runs"
printf 'info  wall %.3f s  cpu %.3f s\n' "$info_wall" "$info_cpu"
printf 'list  wall %.3f s  cpu %.3f s\n' "$list_wall" "$list_cpu"
printf 'ratio wall %s  cpu %s  (goal: at most 1.1)\n' "$(ratio "$list_wall" "$info_wall")" "$(ratio "$list_cpu" "$info_cpu")"
