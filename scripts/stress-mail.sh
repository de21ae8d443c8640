#!/usr/bin/env bash
# Builds the mail and link-monitor tests with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/,
# as scripts/sanitize.sh does) and with ThreadSanitizer (build-tsan/), then runs each of them N times in
# a row (default 300) in both trees and prints how many runs passed. A crash, a sanitizer finding or a
# failed case fails its run; the output of the first failed runs is kept in build-*/stress-*.log.
#   scripts/stress-mail.sh [N] [asan|tsan]   (both trees unless one is named)
# Not part of the every-day suite: 300 runs take a long while.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-300}"
ONLY="${2:-}"
TESTS=(tst_mail tst_linkmonitor)
scripts/setup.sh --packages-only

# GCC leaves float-cast-overflow out of "undefined": a price cast to a whole number is one to catch.
ASAN_FLAGS="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow -fno-omit-frame-pointer"
TSAN_FLAGS="-fsanitize=thread -fno-omit-frame-pointer"

build() { # tree flags
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$2" -DCMAKE_EXE_LINKER_FLAGS="$2" > "$1.log" 2>&1 || { cat "$1.log"; exit 1; }
  ninja -C "$1" -j2 "${TESTS[@]}"
}

# Runs one test executable RUNS times; prints "<tree> <test>: passed P of RUNS".
stress() { # tree test
  local tree=$1 test=$2 exe passed=0 kept=0 log
  exe=$(find "$tree/tests" -type f -name "$test" -perm -u+x | head -1)
  log="$tree/stress-$test.log"
  : > "$log"
  for ((i = 1; i <= RUNS; i++)); do
    if out=$(cd "$(dirname "$exe")" && QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 timeout 300 "./$test" 2>&1); then
      passed=$((passed + 1))
    elif [ $kept -lt 3 ]; then
      kept=$((kept + 1))
      printf '=== run %d failed\n%s\n' "$i" "$out" >> "$log"
    fi
  done
  echo "$tree $test: passed $passed of $RUNS"
  [ "$passed" -eq "$RUNS" ]
}

status=0
if [ -z "$ONLY" ] || [ "$ONLY" = asan ]; then
  build build-asan "$ASAN_FLAGS"
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  for t in "${TESTS[@]}"; do stress build-asan "$t" || status=1; done
fi
if [ -z "$ONLY" ] || [ "$ONLY" = tsan ]; then
  build build-tsan "$TSAN_FLAGS"
  # Qt and VMime are not built with ThreadSanitizer: what they do inside is out of its sight, what the
  # robot does with them is not. A report fails the run; scripts/tsan.supp names the few of Qt's own.
  # The tests start their SMTP servers with fork and exec while threads run, which is safe here.
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/scripts/tsan.supp}"
  for t in "${TESTS[@]}"; do stress build-tsan "$t" || status=1; done
fi
exit $status
