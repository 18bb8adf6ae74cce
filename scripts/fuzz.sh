#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang in build-fuzz/ and runs them.
#   scripts/fuzz.sh                  every target for 10 seconds (CI)
#   scripts/fuzz.sh NAME [SECONDS]   one target (mail, zip, menu, ...) longer
# A run works on a copy of the target's seed corpus (fuzz/corpus/NAME) in a
# folder of its own, removed afterwards, so the tree stays clean.  A broken
# property (each target checks what its parser promises, "fuzz: property
# broken: ..."), a sanitizer report, a crash, a leak, a hang or running out
# of memory fails the run.  The input that did it goes to
# build-fuzz/failed/NAME/ with the run's log beside it, and is run there
# alone once more with the same limits, so that a failure always names a
# file that exists and says whether that file alone shows the fault again.
# The targets refuse to start programs, so libFuzzer's -fork and -jobs,
# which start copies of the target, do not work with them.
set -euo pipefail
shopt -s nullglob
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
# The limits are those of one input, so that what breaks them breaks them
# alone too: 30 seconds, where ours take milliseconds, and 2 GB, where a
# whole run grows to a few hundred MB (libFuzzer's -malloc_limit_mb, for
# one allocation, follows -rss_limit_mb).
limits=(-timeout=30 -rss_limit_mb=2048)
failed=0
for name in "${targets[@]}"; do
  program="$PWD/build-fuzz/fuzz/${name}_fuzz"
  if [ ! -x "$program" ]; then
    echo "fuzz: no target $name" >&2
    exit 2
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/kvfuzz-$name.XXXXXX")
  mkdir "$work/corpus" "$work/found"
  cp -r "fuzz/corpus/$name/." "$work/corpus/"
  if (cd "$work" && "$program" -max_total_time="$seconds" "${limits[@]}" \
        -artifact_prefix="$work/found/" corpus >"$work/log" 2>&1); then
    echo "fuzz: $name ok ($(grep -c '' <(ls "$work/corpus")) inputs)"
    rm -rf "$work"
    continue
  fi
  failed=1
  echo "fuzz: $name FAILED" >&2
  grep -E 'fuzz: |ERROR|runtime error|SUMMARY|INFO: Seed' "$work/log" | head -20 >&2 || true
  # libFuzzer names the input after what it did; a slow-unit- one is a
  # note, no failure.
  kept="build-fuzz/failed/$name"
  mkdir -p "$kept"
  found=("$work"/found/{crash,leak,timeout,oom}-*)
  input=${found[0]:-}
  if [ -z "$input" ]; then
    log="$kept/run-$(date +%Y%m%d-%H%M%S).log"
    mv "$work/log" "$log"
    echo "fuzz: $name kept no input: the fault came outside one (see $log)" >&2
    rm -rf "$work"
    continue
  fi
  file="$kept/$(basename "$input")"
  mv "$input" "$file"
  mv "$work/log" "$file.log"
  rm -rf "$work"
  if (mkdir -p "$kept/alone" && cd "$kept/alone" && "$program" "${limits[@]}" -artifact_prefix="$PWD/" \
        "../$(basename "$file")" >"../$(basename "$file").alone.log" 2>&1); then
    echo "fuzz: $name: $file alone does not show it again: what ran before it counts;" \
      "the run's log is $file.log" >&2
  else
    echo "fuzz: $name: $file shows it again: build-fuzz/fuzz/${name}_fuzz $file" >&2
  fi
  rm -rf "$kept/alone"
done
exit $failed
