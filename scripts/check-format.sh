#!/usr/bin/env bash
# Fails when a C++ file differs from what the repository's .clang-format
# makes of it, and names the lines. Reformat with
#     clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
# Tracked and new files alike, never what lies in a build tree.
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
    'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'fuzz/*.cpp' | sort -u)
((${#files[@]})) || { echo "no sources found" >&2; exit 1; }
if clang-format --dry-run -Werror "${files[@]}"; then
    echo "format: ${#files[@]} files as .clang-format has them"
else
    echo "format: files above differ from .clang-format; clang-format -i them" >&2
    exit 1
fi
