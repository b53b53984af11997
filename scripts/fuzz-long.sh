#!/usr/bin/env bash
# Long fuzzing runs that resume where the last one stopped.
#
#   scripts/fuzz-long.sh [TARGET...] [--seconds N] [--jobs J]
#
# TARGET is a folder name under fuzz/ (all of them when none is given). Each
# target runs N seconds (default 600) at the lowest priority, reading its
# committed corpus fuzz/<t>/corpus and its work corpus build/fuzz-work/<t>,
# which outlives the run. Afterwards both are merged (-merge=1) into the
# fewest inputs that keep their coverage, which replace the inputs found by
# earlier runs in the committed corpus when they stay small (256 KB), and
# one line is appended to fuzz/FUZZING.csv: date, target, seconds,
# executions, coverage (cov and ft of libFuzzer's final stats), corpus files
# and bytes, and the crash files found. A crash leaves
# its input in build/fuzz-work/<t>-crash-* and makes the script fail.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SECONDS_EACH=600
MAX_CORPUS_BYTES=${MAX_CORPUS_BYTES:-262144}
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_EACH=$2; shift 2 ;;
    --seconds=*) SECONDS_EACH=${1#*=}; shift ;;
    -h|--help) sed -n 2,14p "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/*/; do [ -f "$dir/CMakeLists.txt" ] && targets+=("$(basename "$dir")"); done
fi

build=build/fuzz
mkdir -p build
# Runs of other targets may share the build folder: one configures and builds at a time.
exec 9>"$build.lock"
flock 9
if ! CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFRAMEWELL_FUZZ=ON \
       >"$build.configure.log" 2>&1; then
  echo "fuzz-long: configure failed, see $build.configure.log" >&2
  exit 2
fi
exes=()
for t in "${targets[@]}"; do exes+=("fuzz_$t"); done
nice -n 19 ninja -C "$build" -j2 "${exes[@]}" || exit 2
flock -u 9

csv=fuzz/FUZZING.csv
[ -f "$csv" ] || echo "date,target,seconds,executions,cov,ft,corpus_files,corpus_bytes,crashes" >"$csv"
mkdir -p build/fuzz-work
# Inputs libFuzzer saved for a target: crashes, leaks, time-outs, out-of-memory.
findings() { find build/fuzz-work -maxdepth 1 -type f -regex ".*/$1-\(crash\|leak\|timeout\|oom\)-.*" | wc -l; }
status=0
for t in "${targets[@]}"; do
  exe=$build/fuzz/$t/fuzz_$t
  seeds=fuzz/$t/corpus
  work=build/fuzz-work/$t
  log=build/fuzz-work/$t.log
  mkdir -p "$work" "$seeds"
  echo "--- fuzz_$t for ${SECONDS_EACH} s"
  started=$(date -u +%FT%TZ)
  began=$(date +%s)
  before=$(findings "$t")
  nice -n 19 "$exe" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build/fuzz-work/$t-" "$work" "$seeds" >"$log" 2>&1
  rc=$?
  # The time it really ran: a finding stops it early.
  ran=$(($(date +%s) - began))
  after=$(findings "$t")
  crashes=$((after - before))
  [ $rc -ne 0 ] && [ $crashes -eq 0 ] && crashes=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")

  # Minimise: a merge into an empty folder keeps the fewest inputs of the
  # committed and the work corpus that give all their coverage.
  fresh=$(mktemp -d)
  nice -n 19 "$exe" -merge=1 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="build/fuzz-work/$t-merge-" "$fresh" "$seeds" "$work" >"$log.merge" 2>&1
  bytes=$(du -sb "$fresh" | cut -f1)
  if [ -z "$(ls -A "$fresh")" ]; then
    echo "fuzz-long: merging the corpus of $t failed, see $log.merge"
  elif [ "$bytes" -le "$MAX_CORPUS_BYTES" ]; then
    # Hand-made seeds keep their names; inputs found by fuzzing (named by
    # their SHA-1) are replaced by the minimal set.
    find "$seeds" -type f -regextype posix-egrep -regex '.*/[0-9a-f]{40}$' -delete
    known=$(find "$seeds" -type f -exec sha1sum {} + | cut -d' ' -f1)
    for f in "$fresh"/*; do
      grep -qx "$(basename "$f")" <<<"$known" || cp "$f" "$seeds/"
    done
  else
    echo "fuzz-long: minimal corpus of $t is $bytes bytes, over $MAX_CORPUS_BYTES: committed corpus left alone"
  fi
  rm -rf "$fresh"
  files=$(find "$seeds" -type f | wc -l)
  corpus_bytes=$(du -sb "$seeds" | cut -f1)
  echo "$started,$t,$ran,${execs:-0},${cov:-0},${ft:-0},$files,$corpus_bytes,$crashes" >>"$csv"
  echo "    executions ${execs:-?} cov ${cov:-?} ft ${ft:-?} corpus $files files $corpus_bytes bytes, findings $crashes"
  if [ $crashes -ne 0 ]; then
    status=1
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | sed -n 1,5p
  fi
done

echo "=== time each target has had (all runs in $csv) ==="
awk -F, 'NR > 1 { s[$2] += $3; e[$2] += $4; c[$2] += $9 } END { for (t in s) printf "%-16s %7d s %12d execs %3d findings\n", t, s[t], e[t], c[t] }' "$csv" | sort
exit $status
