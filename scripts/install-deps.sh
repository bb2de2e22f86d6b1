#!/usr/bin/env bash
# Installs everything Melodex needs to build, run and test on Debian 12.
# Pass "test" to add what only the test suite needs (browser, X server for screenshots,
# lintian for the packages, the checkers of their man pages, desktop entry and AppStream
# file, and what .ci/run adds: clang with its sanitizer and fuzzer runtimes, clang-tidy,
# clang-format).
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libtag1-dev libicu-dev libmpg123-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
    fonts-noto-cjk qt6-qpa-plugins qt6-translations-l10n
    dpkg-dev file gzip
)
if [[ "${1:-}" == "test" ]]; then
    packages+=(libgtest-dev libgmock-dev chromium chromium-driver python3-selenium xvfb xauth x11-utils imagemagick clang libclang-rt-14-dev
               python3-mutagen ffmpeg flac opus-tools vorbis-tools appstream desktop-file-utils man-db groff-base lintian clang-tidy clang-format)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
