#!/usr/bin/env bash
# Builds the two Debian packages in BUILD_DIR (default build/, configured)
# and checks them: what each carries and what it must not (the command
# line's package nothing of Qt, its fonts or its translations; no file in
# both), what they depend on, a desktop entry and AppStream metadata their
# validators accept, man pages groff reads without a warning, and lintian
# with no error, no warning and no note but those explained below.
# Needs `scripts/install-deps.sh test`.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
id=io.github.melodex.Melodex

fail() {
    echo "check-package: $*" >&2
    exit 1
}

cmake --build "$build" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
cli_deb=("$build"/melodex-cli_*_amd64.deb)
window_deb=("$build"/melodex_*_amd64.deb)
[[ -f "${cli_deb[0]}" ]] || fail "no melodex-cli package was built"
[[ -f "${window_deb[0]}" ]] || fail "no melodex package was built"
# A file installed without a COMPONENT lands in a third package of its own.
for deb in "$build"/*.deb; do
    [[ "$deb" == "${cli_deb[0]}" || "$deb" == "${window_deb[0]}" ]] ||
        fail "$(basename "$deb"): an install rule without COMPONENT cli or window"
done

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }'; }
relations() { dpkg-deb -f "$1" Depends Recommends Suggests; }

# must DEB PATH...: each path is in the package.
must() {
    local deb="$1" listing
    shift
    listing="$(files "$deb")"
    for path in "$@"; do
        grep -qx "$path" <<<"$listing" || fail "$(basename "$deb") lacks /$path"
    done
}

# must_not DEB WHAT REGEX: neither a path nor a relation of the package matches.
must_not() {
    local found
    found="$( (files "$1"; relations "$1" | tr ',' '\n') | grep -Ei "$3" || true)"
    [[ -z "$found" ]] || fail "$(basename "$1") carries or pulls in $2: $found"
}

for deb in "${cli_deb[0]}" "${window_deb[0]}"; do
    echo "== $(basename "$deb")"
    dpkg-deb -f "$deb" Package Depends Recommends
    files "$deb" | sed 's/^/    \//'
done

must "${cli_deb[0]}" usr/bin/melodex-cli usr/share/man/man1/melodex-cli.1.gz \
    usr/share/bash-completion/completions/melodex-cli \
    usr/share/doc/melodex-cli/copyright usr/share/doc/melodex-cli/changelog.gz
must_not "${cli_deb[0]}" "Qt" '(^|/| )(lib)?qt|\.qm$'
must_not "${cli_deb[0]}" "fonts" 'fonts'
must_not "${cli_deb[0]}" "translations" 'translations|l10n|/locale/'
must_not "${cli_deb[0]}" "the window" '^usr/bin/melodex$|applications/|icons/|metainfo/|man1/melodex\.1'
dpkg-deb -f "${cli_deb[0]}" Depends | grep -q 'libc6' || fail "melodex-cli: dpkg-shlibdeps found no libc6"

must "${window_deb[0]}" usr/bin/melodex usr/share/man/man1/melodex.1.gz \
    "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" "usr/share/icons/hicolor/64x64/apps/$id.png" \
    usr/share/doc/melodex/copyright usr/share/doc/melodex/changelog.gz
depends="$(dpkg-deb -f "${window_deb[0]}" Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//')"
recommends="$(dpkg-deb -f "${window_deb[0]}" Recommends | tr -d ' ' | tr ',' '\n')"
for p in libqt6widgets6 qt6-qpa-plugins; do
    grep -qx "$p" <<<"$depends" || fail "melodex does not depend on $p"
done
for p in melodex-cli fonts-noto-cjk qt6-translations-l10n; do
    grep -qx "$p" <<<"$recommends" || fail "melodex does not recommend $p"
done
both="$(comm -12 <(files "${cli_deb[0]}" | sort) <(files "${window_deb[0]}" | sort))"
[[ -z "$both" ]] || fail "in both packages, so they cannot be installed together: $both"

# lintian's notes that stay, with the reason. "anothe another": the
# compiler keeps the message "locked by another program" as two overlapping
# 16-byte pieces, "locked by anothe" and " another program", that vector
# stores put together; lintian reads the first as a misspelling.
explained='^I: melodex(-cli)?: spelling-error-in-binary anothe another \[usr/bin/melodex(-cli)?\]$'
for deb in "${cli_deb[0]}" "${window_deb[0]}"; do
    report="$(lintian --display-info --fail-on none "$deb" 2>/dev/null)" || fail "lintian could not check $deb"
    unexplained="$(grep -Ev "$explained" <<<"$report" || true)"
    [[ -z "$unexplained" ]] || fail "lintian on $(basename "$deb"):"$'\n'"$unexplained"
    echo "lintian: $(basename "$deb") clean"
done

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "${cli_deb[0]}" "$unpacked"
dpkg-deb -x "${window_deb[0]}" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$id.metainfo.xml"
for page in melodex melodex-cli; do
    warnings="$(zcat "$unpacked/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)"
    [[ -z "$warnings" ]] || fail "$page.1: $warnings"
    man -l "$unpacked/usr/share/man/man1/$page.1.gz" >/dev/null
done
bash -c 'source "$1" && complete -p melodex-cli' bash "$unpacked/usr/share/bash-completion/completions/melodex-cli"
"$unpacked/usr/bin/melodex-cli" --version
"$unpacked/usr/bin/melodex" --version
echo "packages checked"
