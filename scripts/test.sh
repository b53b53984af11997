#!/usr/bin/env bash
# Installs the build and test dependencies, checks the network layer order
# and the formatting, builds Framewell twice (Release with warnings as errors,
# and address + undefined sanitizers), runs every test with ctest in both,
# builds the Debian package and starts the extracted station (package-test.sh),
# runs the capture tests once more under GStreamer's leak tracer and under the
# thread sanitizer, replays and briefly runs the fuzz targets, and ends with
# each stage's duration and one summary line:
#
#   test: N passed, N failed, N skipped
#
# A skipped test is counted apart; a skipped peer test (label "peer") counts
# as failed, because a peer that cannot be started is a failure.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
JOBS=${JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

START=$SECONDS
bash scripts/install-deps.sh || { echo "test: dependency installation failed"; exit 1; }

passed=0
failed=0
skipped=0
failures=()
durations=()

stage_started=0
stage() { # name: prints the stage's title and starts its clock
  stage_name=$1
  stage_started=$SECONDS
  echo "=== $1 ==="
}
stage_done() {
  local took=$((SECONDS - stage_started))
  durations+=("$(printf '%-44s %4d:%02d' "$stage_name" $((took / 60)) $((took % 60)))")
}

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
  # ctest counts a skipped test as passed and lists it under "did not run".
  local numbers skips=0 peer_skips=0 number
  numbers=$(sed -nE 's/^[[:space:]]+([0-9]+) - (.*) \(Skipped\)$/\1/p' "$log")
  for number in $numbers; do
    if grep -qxF "$number" "$log.peer"; then
      peer_skips=$((peer_skips + 1))
      failures+=("$name: peer test skipped: $(sed -nE "s/^[[:space:]]+$number - (.*) \(Skipped\)$/\1/p" "$log")")
    else
      skips=$((skips + 1))
    fi
  done
  passed=$((passed + total - bad - skips - peer_skips))
  failed=$((failed + bad + peer_skips))
  skipped=$((skipped + skips))
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
  local rc=${PIPESTATUS[0]}
  # The numbers of the peer tests, to tell their skips from the others.
  (cd "$dir" && ctest -N -L peer) | sed -nE 's/^[[:space:]]*Test[[:space:]]+#([0-9]+):.*/\1/p' >"$log.peer"
  count_ctest "$name" "$log" "$rc"
}

mkdir -p build

stage "Layer order of the includes"
if bash scripts/check-layers.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); failures+=("check-layers: an include goes up the layers")
fi
stage_done

stage "Formatting (clang-format)"
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); failures+=("format: files differ from .clang-format (run clang-format -i on them)")
fi
stage_done

stage "Release build (-Werror) and tests"
if build build/release -DCMAKE_BUILD_TYPE=Release -DFRAMEWELL_WERROR=ON; then
  run_ctest release build/release
else
  failed=$((failed + 1)); failures+=("release: build failed")
fi
stage_done

stage "Debian package (build, contents, installed start)"
if bash scripts/package-test.sh build/release; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); failures+=("package: scripts/package-test.sh failed")
fi
stage_done

stage "Sanitizer build (address, undefined) and tests"
# fast_unwind_on_malloc=0: GLib and GStreamer are built without frame
# pointers, so only full unwinding records the frames lsan.supp names.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:fast_unwind_on_malloc=0
export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# GLib's slice allocator would hide a leaked GStreamer object (caps,
# structures) inside its magazines: plain malloc lets LeakSanitizer see it.
export G_SLICE=always-malloc
if build build/asan -DCMAKE_BUILD_TYPE=Debug -DFRAMEWELL_SANITIZE=ON -DFRAMEWELL_BENCH=OFF; then
  # Benchmark-sized and timing-sensitive cases are labelled "slow" and run
  # only in the Release build.
  run_ctest asan build/asan -LE slow
  # The capture and acquisition programs once more, whole, under GStreamer's leak tracer: it
  # reports every GStreamer object still alive at gst_deinit(), which the
  # programs call at exit, as an "object-alive" record in the debug log.
  for program in acquisition_callback_test acquisition_pipeline_test acquisition_session_test \
                 acquisition_capture_session_test; do
    exe=build/asan/tests/acquisition/$program
    gstlog=build/asan/$program.gst-leaks.log
    echo "--- $program under GST_TRACERS=leaks"
    rm -f "$gstlog"
    if ! QT_QPA_PLATFORM=offscreen GST_TRACERS=leaks GST_DEBUG=GST_TRACER:7 GST_DEBUG_NO_COLOR=1 \
         GST_DEBUG_FILE="$gstlog" "$exe" >"build/asan/$program.gst-leaks.out" 2>&1; then
      failed=$((failed + 1)); failures+=("gst-leaks: $program failed, see build/asan/$program.gst-leaks.out")
    # No log at all: the program never started GStreamer.
    elif [ -f "$gstlog" ] && grep -E 'object-alive, type-name=\(string\)[^%]' "$gstlog"; then
      failed=$((failed + 1)); failures+=("gst-leaks: $program left GStreamer objects alive, see $gstlog")
    else
      passed=$((passed + 1))
    fi
  done
else
  failed=$((failed + 1)); failures+=("asan: build failed")
fi
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS G_SLICE
stage_done

stage "Thread sanitizer (capture, acquisition session and Send tests)"
# Only the programs labelled "tsan" are built: the capture tests, whose
# frame callback runs on GStreamer's streaming thread, and the acquisition
# session and Send, which hand objects to the send thread.
TSAN_TARGETS=(acquisition_callback_test acquisition_pipeline_test acquisition_session_test
              acquisition_send_test acquisition_capture_session_test)
export TSAN_OPTIONS=suppressions=$ROOT/scripts/tsan.supp:halt_on_error=0:exitcode=66
if cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFRAMEWELL_TSAN=ON -DFRAMEWELL_BENCH=OFF \
     >build/tsan.configure.log 2>&1 &&
   cmake --build build/tsan -j "$JOBS" --target "${TSAN_TARGETS[@]}"; then
  run_ctest tsan build/tsan -L tsan
else
  failed=$((failed + 1)); failures+=("tsan: build failed")
fi
unset TSAN_OPTIONS
stage_done

if compgen -G "fuzz/*/CMakeLists.txt" >/dev/null; then
  stage "Fuzz targets (${FUZZ_SECONDS} s each)"
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
  stage_done
fi

echo "=== Durations ==="
for d in "${durations[@]}"; do echo "$d"; done
total=$((SECONDS - START))
printf '%-44s %4d:%02d\n' "Total (with dependencies)" $((total / 60)) $((total % 60))
for f in "${failures[@]+"${failures[@]}"}"; do echo "FAILED: $f"; done
echo "test: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
