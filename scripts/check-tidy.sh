#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every source file in src/
# with the compile commands of a configured build, two at a time, and fails
# on any finding, in a .cpp or in a header of src/ it includes.
#     scripts/check-tidy.sh [FILE...]      BUILD_DIR=build-x to use another tree
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${BUILD_DIR:-$here/build}")"
db="$build/compile_commands.json"
[[ -f "$db" ]] || { echo "no $db: configure the build first" >&2; exit 1; }

if (($#)); then
    files=("$@")
else
    # Only files under src/ itself: moc and rcc output lives in the build tree
    # and is not ours to change.
    mapfile -t files < <(sed -n "s|^ *\"file\": \"\($here/src/[^\"]*\.cpp\)\",\?\$|\1|p" "$db" | sort -u)
fi
((${#files[@]})) || { echo "no source files of src/ in $db" >&2; exit 1; }

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
# One log per file, so that the two runs never interleave their lines.
tidy_one() {
    local log="$out/$(tr / _ <<<"${1#"$here"/}").log"
    clang-tidy --quiet -p "$build" --header-filter="^$here/src/" "$1" >"$log" 2>&1 || touch "$log.failed"
}
export -f tidy_one
export build here out
printf '%s\0' "${files[@]}" | xargs -0 -P2 -n1 bash -c 'tidy_one "$1"' _

# A header's finding comes once from every file that includes it: each
# diagnostic with its notes is printed once.
awk '
    /^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$/ { next }
    /^Suppressed [0-9]+ warnings/ || /^Use -header-filter=/ { next }
    /^[^ ]+:[0-9]+:[0-9]+: (warning|error): / { flush(); key = $0 }
    { block = block $0 "\n" }
    function flush() { if (key != "" && !(key in seen)) { seen[key]; printf "%s", block; n++ } key = ""; block = "" }
    END { flush(); print n + 0 > "/dev/stderr" }
' "$out"/*.log 2>"$out/count"
count="$(cat "$out/count")"
failed=("$out"/*.failed)
if [[ -e "${failed[0]}" && "$count" == 0 ]]; then
    # clang-tidy failed without a diagnostic we could show: print all it said.
    cat "${failed[@]%.failed}"
    echo "tidy: clang-tidy failed on ${#failed[@]} files" >&2
    exit 1
fi
if ((count)); then
    echo "tidy: $count findings in ${#files[@]} files" >&2
    exit 1
fi
echo "tidy: ${#files[@]} files, no findings"
