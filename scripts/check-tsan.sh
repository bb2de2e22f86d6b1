#!/usr/bin/env bash
# Builds the core, melodex-cli and their tests with clang's ThreadSanitizer
# into build-tsan/ and runs them. The read-ahead thread runs beside every
# folder read (info, list, the document writer's tests), and the INI tests
# save from several threads at once: all of them are watched, not only the
# tests named after threads.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build-tsan"
flags="-fsanitize=thread -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMELODEX_BUILD_GUI=OFF -DBUILD_TESTING=ON -DMELODEX_WERROR="${MELODEX_WERROR:-OFF}" -DMELODEX_HARDENING=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir "$build" --output-on-failure "$@"
