#!/usr/bin/env bash
# Includes point down only: common <- trackinfo <- listgen, settings <- window, cli.
# A folder may include its own headers and those of the folders it builds on;
# only src/window may include Qt. The window's command files take their
# inputs as arguments and reach no control: they include neither the window
# nor its widgets. Where a tag lies in a file is known in one place: no file
# of src/trackinfo but the tag-layout module spells the tags' identifiers
# ("ID3", "TAG", "APETAGEX") outside a comment.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
    [common]="common"
    [trackinfo]="common trackinfo"
    [listgen]="common trackinfo listgen"
    [settings]="common settings"
    [window]="common trackinfo listgen settings window"
    [cli]="common trackinfo listgen settings cli"
)
status=0
for folder in "${!allowed[@]}"; do
    while IFS=: read -r file line include; do
        target=$(sed -E 's/#include "([a-z]+)\/.*/\1/' <<<"$include")
        if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "$file:$line: src/$folder must not include $target/"
            status=1
        fi
    done < <(grep -rnE '^#include "[a-z]+/' "src/$folder" || true)
    if [[ $folder != window ]] && grep -rnE '^#include <Q' "src/$folder"; then
        echo "src/$folder must not include Qt"
        status=1
    fi
done
if grep -nE '^#include "window/(frmMain1|widgets)\.h"' src/window/*_command.* src/window/*_commands.*; then
    echo "a command file of src/window must not include frmMain1.h or widgets.h"
    status=1
fi
for file in src/trackinfo/*.h src/trackinfo/*.cpp; do
    [[ $file == src/trackinfo/tag_layout.* ]] && continue
    if hits=$(sed 's://.*$::' "$file" | grep -nE '"(ID3|TAG|APETAGEX)"'); then
        sed "s|^|$file:|" <<<"$hits"
        echo "$file: tag identifiers belong in src/trackinfo/tag_layout"
        status=1
    fi
done
exit $status
