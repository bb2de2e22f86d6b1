#!/usr/bin/env bash
# Builds each library target alone, in a build tree configured afresh
# (BUILD_DIR, default build-targets/), so that a target which compiles only
# because another was built first fails.
#     scripts/check-targets.sh [CMAKE CONFIGURE OPTIONS...]
#
# One tree serves all of them: with Ninja, a static library's build compiles
# its own sources and runs its own generators (the window's moc and rcc), and
# never builds the libraries it links. What an earlier step leaves behind is
# other targets' objects, which no compile reads; the generated headers are
# made at configure time (version.h) or by the target itself. So each step
# meets what a fresh tree would give it, at the cost of one build.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build-targets}"
rm -rf "$build"
cmake -S "$here" -B "$build" -G Ninja "$@" >/dev/null
targets=(melodex_common melodex_trackinfo melodex_listgen melodex_settings melodex_cli_lib)
grep -q '^MELODEX_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt" && targets+=(melodex_window)
for target in "${targets[@]}"; do
    echo "-- $target alone"
    cmake --build "$build" --target "$target" >/dev/null || {
        echo "$target does not build alone:" >&2
        cmake --build "$build" --target "$target" >&2 || true
        exit 1
    }
done
echo "targets: ${targets[*]} each build alone"
