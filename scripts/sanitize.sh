#!/usr/bin/env bash
# Builds Korvex with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and runs the
# whole test suite there, the robot and simulator processes included; any finding fails its test.
# Extra arguments go to ctest (e.g. -R tst_pricetext, or -E 'end_to_end' to leave the slow ones out).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --packages-only

# GCC leaves float-cast-overflow out of "undefined": a price cast to a whole number is one to catch.
FLAGS="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" > build-asan.log 2>&1 || { cat build-asan.log; exit 1; }
ninja -C build-asan

cd build-asan
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
