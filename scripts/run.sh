#!/usr/bin/env bash
# Installs the dependencies, builds Melodex and runs it.
# For now the main job is `melodex-cli info` on a folder: the one given, else
# the shared MP3 corpus beside this repository, else the current folder.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-}"
if [[ -z "$folder" ]]; then
    if [[ -d "$here/../shared/corpus" ]]; then folder="$here/../shared/corpus"; else folder="$PWD"; fi
fi
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" --target melodex-cli
exec "$here/build/melodex-cli" info "$folder"
