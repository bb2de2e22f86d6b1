#!/usr/bin/env bash
# Installs the dependencies, builds Melodex and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
# MELODEX_WERROR=ON (set by .ci/run) makes warnings errors, and
# MELODEX_BUILD_BENCH=ON (CI's too) builds bench/'s programs, which nothing
# else compiles; named each time, so that a later run without them does not
# keep CI's settings in the cache.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DMELODEX_WERROR="${MELODEX_WERROR:-OFF}" -DMELODEX_BUILD_BENCH="${MELODEX_BUILD_BENCH:-OFF}"
cmake --build build
ctest --test-dir build --output-on-failure "$@"
