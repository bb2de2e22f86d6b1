#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR (default build/, configured) and
# checks what it carries: the files a desktop install needs, a desktop entry
# and AppStream metadata their validators accept, and man pages groff reads
# without a warning. Needs `scripts/install-deps.sh test`.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
id=io.github.melodex.Melodex

cmake --build "$build" >/dev/null
rm -f "$build"/melodex_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/melodex_*_amd64.deb)
deb="${debs[0]}"
[[ -f "$deb" ]] || { echo "no package was built" >&2; exit 1; }
echo "built $(basename "$deb")"
listing="$(dpkg-deb -c "$deb")"
echo "$listing"

missing=0
for path in \
    usr/bin/melodex usr/bin/melodex-cli \
    "usr/share/applications/$id.desktop" \
    "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" \
    "usr/share/icons/hicolor/64x64/apps/$id.png" \
    usr/share/man/man1/melodex.1.gz usr/share/man/man1/melodex-cli.1.gz; do
    grep -q " \./$path\$" <<<"$listing" || { echo "missing from the package: /$path" >&2; missing=1; }
done
((missing == 0)) || exit 1
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || { echo "shlibdeps found no Qt dependency" >&2; exit 1; }

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$id.metainfo.xml"
for page in melodex melodex-cli; do
    warnings="$(zcat "$unpacked/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)"
    [[ -z "$warnings" ]] || { echo "$page.1: $warnings" >&2; exit 1; }
    man -l "$unpacked/usr/share/man/man1/$page.1.gz" >/dev/null
done
"$unpacked/usr/bin/melodex-cli" --version
"$unpacked/usr/bin/melodex" --version
echo "package checked"
