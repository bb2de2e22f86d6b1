#!/usr/bin/env bash
# What a big INI file costs the preset commands: writes an INI of SECTIONS
# presets (20 keys each, as the window saves them) beside a copy of
# melodex-cli, then prints the median wall and CPU time of `presets` and of
# `list --preset` naming the last preset (goal: under 1 s at 80,000).
#
#   bench/presets.sh [SECTIONS] [RUNS]
#
# MELODEX_CLI names the program (default build/melodex-cli). Everything is
# made in a temporary folder and removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
sections=${1:-80000}
runs=${2:-5}
cli=${MELODEX_CLI:-build/melodex-cli}
[[ -x $cli ]] || { echo "no $cli: build first" >&2; exit 1; }

work=$(mktemp -d /tmp/melodex-presets.XXXXXX)
trap 'rm -rf "$work"' EXIT
# melodex-cli reads the INI file beside "melodex" in its own folder.
cp "$cli" "$work/melodex-cli"
mkdir "$work/music"
: >"$work/music/a.mp3"
python3 - "$work/melodex.ini" "$sections" <<'PY'
import sys
path, count = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    for n in range(count):
        keys = [f"Combo_{i:02d}= {i}" for i in range(11)]
        keys += ["Color_00= 28", "Color_01= 28", "Color_02= 0", "Color_03= 26",
                 "Enabled=11", "Border=1", "FileSize= 0", f"Title=preset {n}", "OutFile=list.htm"]
        f.write((f"[preset {n:05d}]\r\n" + "".join(k + "\r\n" for k in keys) + "\r\n").encode("ascii"))
PY
last=$(printf 'preset %05d' $((sections - 1)))

measure() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; } 2>&1)
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$t"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { printf '%s\n' "${@:2}" | awk -v c="$1" '{ print $c }' | median; }

[[ $("$work/melodex-cli" presets | wc -l) -eq $sections ]] || { echo "presets did not list $sections names" >&2; exit 1; }
presets_runs=() list_runs=()
for ((i = 0; i < runs; i++)); do
    presets_runs+=("$(measure "$work/melodex-cli" presets)")
    list_runs+=("$(measure "$work/melodex-cli" list "$work/music" --preset "$last" --output bench.htm)")
done
printf 'sections %d (%s), runs %d, medians\n' "$sections" "$(du -h "$work/melodex.ini" | cut -f1)" "$runs"
printf 'presets         wall %.3f s  cpu %.3f s\n' "$(column 1 "${presets_runs[@]}")" "$(column 2 "${presets_runs[@]}")"
printf 'list --preset   wall %.3f s  cpu %.3f s\n' "$(column 1 "${list_runs[@]}")" "$(column 2 "${list_runs[@]}")"
