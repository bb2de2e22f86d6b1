#!/usr/bin/env bash
# Installs the dependencies, builds Melodex and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
# MELODEX_WERROR=ON (set by .ci/run) makes warnings errors; named each time, so
# that a later run without it does not keep CI's setting in the cache.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DMELODEX_WERROR="${MELODEX_WERROR:-OFF}"
cmake --build build
ctest --test-dir build --output-on-failure "$@"
