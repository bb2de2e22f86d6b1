#!/usr/bin/env bash
# Installs the dependencies, builds Melodex and starts the window on FOLDER:
# the one given, else the shared MP3 corpus beside this repository, else the
# current folder. The window opens in the folder it is started in.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-}"
if [[ -z "$folder" ]]; then
    if [[ -d "$here/../shared/corpus" ]]; then folder="$here/../shared/corpus"; else folder="$PWD"; fi
fi
"$here/scripts/install-deps.sh"
# The tests need packages only `install-deps.sh test` brings; without them
# configure the program alone.
testing=ON
for p in libgtest-dev nlohmann-json3-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || testing=OFF
done
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=$testing >/dev/null
cmake --build "$here/build" --target melodex melodex-cli
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
    cat >&2 <<MSG
No display to show the window on. Without one, either
  xvfb-run -a scripts/run.sh [FOLDER]      (an invisible X server; needs xvfb)
  scripts/screenshot.sh [FOLDER]           (saves what the window shows to docs/screenshot.png)
  build/melodex-cli info "$folder"         (the folder's tracks as text)
MSG
    exit 1
fi
cd "$folder"
exec "$here/build/melodex"
