#!/usr/bin/env bash
# Builds everything, the window and its tests included, with AddressSanitizer
# (LeakSanitizer with it) and UndefinedBehaviorSanitizer into a fresh
# build-asan/, each library target alone first (scripts/check-targets.sh),
# and runs the whole suite there; the widget tests draw offscreen.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build-asan"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# The tree the targets were built in alone goes on to build the rest: the
# libraries are not compiled twice.
BUILD_DIR="$build" "$here/scripts/check-targets.sh" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON \
    -DMELODEX_WERROR="${MELODEX_WERROR:-OFF}" -DMELODEX_HARDENING=OFF -DCMAKE_CXX_FLAGS="$flags"
cmake --build "$build"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$build" --output-on-failure "$@"
