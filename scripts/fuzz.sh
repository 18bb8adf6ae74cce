#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang in build-fuzz/ and runs them.
#   scripts/fuzz.sh                  every target for 10 seconds (CI)
#   scripts/fuzz.sh NAME [SECONDS]   one target (mail, zip, menu, ...) longer
# A run works on a copy of the target's seed corpus (fuzz/corpus/NAME), so
# the tree stays clean.  A broken property (each target checks what its
# parser promises, "fuzz: property broken: ..."), a sanitizer report, a
# crash, a leak, a hang or running out of memory fails the run; its log
# and the input that did it stay in the folder named on the output.  The
# targets refuse to start programs, so libFuzzer's -fork and -jobs, which
# start copies of the target, do not work with them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# Targets whose fault is known and being mended elsewhere: built, not run
# by the whole pass until the mend is in.
skip=()

cmake -S . -B build-fuzz -DKV_FUZZ=ON -DKV_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_targets

seconds=10
if [ $# -ge 1 ]; then
  targets=("$1")
  seconds=${2:-600}
else
  targets=()
  for src in fuzz/*_fuzz.cpp; do
    name=$(basename "$src" _fuzz.cpp)
    if [[ " ${skip[*]} " == *" $name "* ]]; then
      echo "fuzz: $name left out (known fault)"
      continue
    fi
    targets+=("$name")
  done
fi

export ASAN_OPTIONS=abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
for name in "${targets[@]}"; do
  program="$PWD/build-fuzz/fuzz/${name}_fuzz"
  if [ ! -x "$program" ]; then
    echo "fuzz: no target $name" >&2
    exit 2
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/kvfuzz-$name.XXXXXX")
  mkdir "$work/corpus"
  cp -r "fuzz/corpus/$name/." "$work/corpus/"
  if (cd "$work" && "$program" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -artifact_prefix="$work/" corpus >"$work/log" 2>&1); then
    echo "fuzz: $name ok ($(grep -c '' <(ls "$work/corpus")) inputs)"
    rm -rf "$work"
  else
    echo "fuzz: $name FAILED; log and input in $work" >&2
    grep -E 'fuzz: |ERROR|runtime error|SUMMARY|Test unit written' "$work/log" | head -20 >&2 || true
    failed=1
  fi
done
exit $failed
