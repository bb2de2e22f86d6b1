#!/usr/bin/env bash
# Writes the classic and the modern page of a folder (default: the shared
# corpus) into a scratch copy and saves what headless Chromium shows of each
# to docs/list-classic.png and docs/list-modern.png, in 64 colours so that
# they stay small. Needs chromium and ImageMagick (scripts/install-deps.sh test).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-$here/../shared/corpus}"
build="${BUILD_DIR:-$here/build}"
work="$(mktemp -d /tmp/melodex-pages.XXXXXX)"
trap 'rm -rf "$work"' EXIT

[[ -x $build/melodex-cli ]] || cmake --build "$build" --target melodex-cli
cp -r "$folder/." "$work/"
"$build/melodex-cli" list "$work" --title "Melodex corpus" -o classic.htm
"$build/melodex-cli" list "$work" --title "Melodex corpus" -o modern.html --style modern \
    --columns file,tracknumber,track,artist,album,year,genre,size,time,bitrate
for style in classic modern; do
    page="$work/$style.htm"
    [[ $style == modern ]] && page="$work/modern.html"
    timeout 60 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,640 \
        --user-data-dir="$work/profile" --screenshot="$work/$style.png" "file://$page" >/dev/null 2>&1
    convert "$work/$style.png" -colors 64 PNG8:"$here/docs/list-$style.png"
    echo "saved docs/list-$style.png"
done
