#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test.
#   scripts/test.sh              build/ and its tests
#   scripts/test.sh --sanitize   build-asan/ with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DKV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export KV_TEST_TIMEOUT_SCALE=8
fi

cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest -j"$(nproc)" --output-on-failure
