#!/usr/bin/env bash
# Two builds of melodex-cli, held to the same bytes:
#
#     bench/same-output.sh OLD_CLI NEW_CLI [FOLDER...]
#
# For each folder (default: the shared corpus, its thirdparty/ and the bench
# corpus when they exist) it compares `info`, `info --json` and the List
# document of four option sets: the defaults; reordered columns with other
# colours, a wide border and KB; few columns with a Japanese title and MB;
# every column "none" but two, border 0. The folders are only read: each
# list is written into a copy made of links, so nothing is left behind.
# Prints one line per difference and exits 1 if there was any.
set -uo pipefail
old=$1 new=$2
shift 2
for cli in "$old" "$new"; do
    [[ -x $cli ]] || { echo "$cli: not an executable" >&2; exit 2; }
done
here="$(cd "$(dirname "$0")/.." && pwd)"
folders=("$@")
if ((${#folders[@]} == 0)); then
    for f in "$here/../shared/corpus" "$here/../shared/corpus/thirdparty" /tmp/melodex-bench/corpus; do
        [[ -d $f ]] && folders+=("$f")
    done
fi

option_sets=(
    ""
    "--columns time,file,artist,album,track,year,genre,comment,size,bitrate,samplerate --colors BLACK,LAVENDER,DARKBLUE,HOTPINK --border 15 --unit kb"
    "--columns track,artist,size,time --title 日本語の一覧 & <b> --unit mb --colors LIGHTYELLOW,WHITE,BLACK,DARKRED"
    "--columns none,file,none,time,none --border 0"
)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
differences=0
say() {
    echo "$*"
    differences=1
}

for folder in "${folders[@]}"; do
    # Absolute, or the links in the copy would point nowhere.
    folder="$(realpath "$folder")"
    for kind in "" "--json"; do
        # shellcheck disable=SC2086 # kind is one word or none
        "$old" info $kind "$folder" >"$work/old.txt" 2>"$work/old.err"
        o=$?
        # shellcheck disable=SC2086
        "$new" info $kind "$folder" >"$work/new.txt" 2>"$work/new.err"
        n=$?
        cmp -s "$work/old.txt" "$work/new.txt" || say "$folder: info $kind differs"
        ((o == n)) || say "$folder: info $kind exits $o before, $n now"
    done
    # A copy of links: the lists are written there, not into the folder.
    rm -rf "$work/copy"
    mkdir "$work/copy"
    find "$folder" -maxdepth 1 -type f -name '*' -exec ln -s {} "$work/copy/" \;
    for i in "${!option_sets[@]}"; do
        args=()
        if [[ ${option_sets[$i]} == *--title* ]]; then
            # The title holds blanks: pass it as one argument.
            args=(--columns track,artist,size,time --title "日本語の一覧 & <b>" --unit mb
                --colors LIGHTYELLOW,WHITE,BLACK,DARKRED)
        else
            read -r -a args <<<"${option_sets[$i]}"
        fi
        "$old" list "$work/copy" --output old.htm "${args[@]}" >/dev/null 2>&1
        o=$?
        "$new" list "$work/copy" --output new.htm "${args[@]}" >/dev/null 2>&1
        n=$?
        cmp -s "$work/copy/old.htm" "$work/copy/new.htm" || say "$folder: list option set $i differs"
        ((o == n)) || say "$folder: list option set $i exits $o before, $n now"
        rm -f "$work/copy/old.htm" "$work/copy/new.htm"
    done
    echo "checked $folder"
done
exit $differences
