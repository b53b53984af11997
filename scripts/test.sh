#!/usr/bin/env bash
# Installs the build and test dependencies, builds Framewell twice (Release,
# and address + undefined sanitizers), runs every test with ctest in both,
# runs the capture tests under the thread sanitizer, replays and briefly runs
# the fuzz targets, and ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
JOBS=${JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

bash scripts/install-deps.sh || { echo "test: dependency installation failed"; exit 1; }

passed=0
failed=0
failures=()

# Adds the counts of one ctest run from its closing line.
count_ctest() {
  local name=$1 log=$2 rc=$3 line total bad
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$log"; then return; fi
    failed=$((failed + 1)); failures+=("$name: ctest did not finish (exit $rc)"); return
  fi
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  if [ "$bad" -ne 0 ]; then failures+=("$name: $bad failed"); fi
}

build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 &&
    cmake --build "$dir" -j "$JOBS"
}

run_ctest() { # name, dir, extra ctest args...
  local name=$1 dir=$2; shift 2
  local log="$dir.ctest.log"
  (cd "$dir" && ctest -j "$JOBS" --timeout 600 "$@") 2>&1 | tee "$log"
  count_ctest "$name" "$log" "${PIPESTATUS[0]}"
}

mkdir -p build

echo "=== Network layer order ==="
if bash scripts/check-layers.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); failures+=("check-layers: an include goes up the network layers")
fi

echo "=== Release build ==="
if build build/release -DCMAKE_BUILD_TYPE=Release; then
  run_ctest release build/release
else
  failed=$((failed + 1)); failures+=("release: build failed")
fi

echo "=== Sanitizer build (address, undefined) ==="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if build build/asan -DCMAKE_BUILD_TYPE=Debug -DFRAMEWELL_SANITIZE=ON -DFRAMEWELL_BENCH=OFF; then
  # Benchmark-sized and timing-sensitive cases are labelled "slow" and run
  # only in the Release build.
  run_ctest asan build/asan -LE slow
else
  failed=$((failed + 1)); failures+=("asan: build failed")
fi
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

echo "=== Thread sanitizer (capture tests) ==="
# Only the programs labelled "tsan" are built: the capture tests, whose
# frame callback runs on GStreamer's streaming thread.
TSAN_TARGETS=(acquisition_callback_test acquisition_pipeline_test)
export TSAN_OPTIONS=suppressions=$ROOT/scripts/tsan.supp:halt_on_error=0:exitcode=66
if cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFRAMEWELL_TSAN=ON -DFRAMEWELL_BENCH=OFF \
     >build/tsan.configure.log 2>&1 &&
   cmake --build build/tsan -j "$JOBS" --target "${TSAN_TARGETS[@]}"; then
  run_ctest tsan build/tsan -L tsan
else
  failed=$((failed + 1)); failures+=("tsan: build failed")
fi
unset TSAN_OPTIONS

if compgen -G "fuzz/*/CMakeLists.txt" >/dev/null; then
  echo "=== Fuzz targets (${FUZZ_SECONDS} s each) ==="
  if CC=clang CXX=clang++ build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFRAMEWELL_FUZZ=ON; then
    for dir in fuzz/*/; do
      name=$(basename "$dir")
      exe=build/fuzz/fuzz/$name/fuzz_$name
      [ -x "$exe" ] || continue
      work=$(mktemp -d)
      seeds=()
      [ -d "$dir/corpus" ] && seeds=("$dir/corpus")
      echo "--- fuzz_$name"
      if "$exe" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 \
           -artifact_prefix="build/fuzz/$name-" "$work" "${seeds[@]}" >"build/fuzz/$name.log" 2>&1; then
        passed=$((passed + 1))
        grep -E '^#[0-9]+.*DONE' "build/fuzz/$name.log" | tail -1
      else
        failed=$((failed + 1)); failures+=("fuzz_$name: crash, see build/fuzz/$name.log")
        tail -40 "build/fuzz/$name.log"
      fi
      rm -rf "$work"
    done
  else
    failed=$((failed + 1)); failures+=("fuzz: build failed")
  fi
fi

for f in "${failures[@]+"${failures[@]}"}"; do echo "FAILED: $f"; done
echo "test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
