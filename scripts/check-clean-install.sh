#!/usr/bin/env bash
# By hand, as root, not in CI (it fetches a Debian system, a few minutes):
# installs the packages that scripts/check-package.sh built into a fresh
# Debian 12 made with debootstrap, with apt and nothing else, and runs them
# there as a user who is not root. First melodex-cli alone, which must pull
# in nothing of Qt, its fonts or its translations; then melodex without its
# recommendations, whose window must open (offscreen) on what it depends on.
#     scripts/check-clean-install.sh [BASE]
# BASE (default /tmp/melodex-bookworm) is made by debootstrap once and kept;
# each run works in a copy of it. Needs debootstrap and the MP3 corpus.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
corpus="${MELODEX_CORPUS_DIR:-$here/../shared/corpus}"
base="${1:-/tmp/melodex-bookworm}"
root="$base.run"

fail() {
    echo "check-clean-install: $*" >&2
    exit 1
}
debs=("$build"/melodex-cli_*_amd64.deb "$build"/melodex_*_amd64.deb)
for deb in "${debs[@]}"; do
    [[ -f "$deb" ]] || fail "no $deb: run scripts/check-package.sh first"
done
[[ -d "$base" ]] || debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian

rm -rf "$root"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
mount -t devpts devpts "$root/dev/pts"
trap 'umount "$root/dev/pts" "$root/proc"; rm -rf "$root"' EXIT
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "${debs[@]}" "$root/tmp/"
chroot "$root" useradd -m listener
mkdir "$root/home/listener/music"
cp "$corpus"/*.mp3 "$root/home/listener/music/"
chroot "$root" chown -R listener: /home/listener/music

in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive "$@"; }
as_user() { chroot --userspec=listener:listener "$root" env HOME=/home/listener "$@"; }

in_root apt-get update -qq
in_root apt-get install -y -qq "/tmp/$(basename "${debs[0]}")" >/dev/null
pulled="$(in_root dpkg-query -W -f '${Package}\n' | grep -Ei 'qt|fonts-|l10n' || true)"
[[ -z "$pulled" ]] || fail "melodex-cli pulled in: $pulled"
as_user melodex-cli --version
as_user melodex-cli info /home/listener/music >"$root/tmp/info.tsv"
lines="$(wc -l <"$root/tmp/info.tsv")"
files="$(ls "$root/home/listener/music" | wc -l)"
((lines == files)) || fail "melodex-cli info printed $lines lines for $files files"
as_user melodex-cli list /home/listener/music --title "clean install"
[[ -s "$root/home/listener/music/list.htm" ]] || fail "melodex-cli list wrote no list.htm"
as_user bash -c 'source /usr/share/bash-completion/completions/melodex-cli && complete -p melodex-cli'

in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "${debs[1]}")" >/dev/null
as_user melodex --version
# The window stays open until it is closed: still running after five
# seconds means it came up.
status=0
as_user env QT_QPA_PLATFORM=offscreen timeout 5 melodex /home/listener/music 2>"$root/tmp/window.err" || status=$?
((status == 124)) || fail "the window ended with status $status: $(cat "$root/tmp/window.err")"
echo "both packages install and run on a clean Debian 12 as a user"
