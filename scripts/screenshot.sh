#!/usr/bin/env bash
# Starts the real window under a virtual X server and saves what it shows to
# docs/screenshot.png. Shows the folder given, else the shared MP3 corpus.
# Needs xvfb and ImageMagick's import (scripts/install-deps.sh test).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-$here/../shared/corpus}"
build="${BUILD_DIR:-$here/build}"
out="$here/docs/screenshot.png"

cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target melodex
mkdir -p "$here/docs"

xvfb-run --auto-servernum --server-args="-screen 0 800x500x24 -dpi 96" bash -c '
    set -euo pipefail
    cd "$1"
    QT_QPA_PLATFORM=xcb "$2" & pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    for _ in $(seq 50); do
        xwininfo -name Melodex >/dev/null 2>&1 && break
        kill -0 $pid 2>/dev/null || { echo "melodex ended early" >&2; exit 1; }
        sleep 0.2
    done
    sleep 1
    timeout 20 import -window Melodex "$3"
' _ "$folder" "$build/melodex" "$out"
echo "saved $out"
