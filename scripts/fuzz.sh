#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a long time: SECONDS each
# (default 600), as JOBS processes at once (default 2, both cores), from the
# corpus in the repository and
# whatever earlier runs found. New inputs, logs and crash files go to
# build/fuzz/runs/TARGET/, never into the repository. Prints per target the
# executions, executions per second, coverage, features and any crash file;
# exits 1 when a target found something.
# Usage: [JOBS=N] scripts/fuzz.sh [SECONDS [TARGET...]]   (TARGET: pop_reply, say)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
jobs=${JOBS:-2}
usage="usage: [JOBS=N] $0 [SECONDS [TARGET...]]"
case "$seconds" in '' | *[!0-9]*) echo "$usage" >&2; exit 2 ;; esac
case "$jobs" in '' | 0 | *[!0-9]*) echo "$usage" >&2; exit 2 ;; esac
shift $(( $# > 0 ? 1 : 0 ))
for wanted in "$@"; do
  [ -f "$top/fuzz/${wanted}_fuzz.cpp" ] || { echo "$0: no fuzz target $wanted" >&2; exit 2; }
done

"$top/scripts/setup.sh"
build=$top/build/fuzz
names=()
targets=()
for source in "$top"/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  [ $# -eq 0 ] || [[ " $* " == *" $name "* ]] || continue
  names+=("$name")
  targets+=(--target "fuzz_$name")
done
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" "${targets[@]}"

# The largest "NAME: N" figure in the logs; coverage and features only grow.
largest() { grep -ho "$1: [0-9]*" "${@:2}" | awk '$2 > m { m = $2 } END { print m + 0 }'; }
# The sum of a final statistic over the jobs.
total() { awk -v key="stat::$1:" '$1 == key { s += $2 } END { print s + 0 }' "${@:2}"; }

status=0
summary=$(printf '%-20s %12s %9s %6s %9s  %s' target executions exec/s cov features findings)
for name in "${names[@]}"; do
  run=$build/runs/$name
  rm -rf "$run/logs" "$run/findings"
  mkdir -p "$run/corpus" "$run/logs" "$run/findings"
  echo "== fuzz_$name for ${seconds}s (logs in $run/logs)"
  # Each job writes its log, fuzz-N.log, into the current folder.
  (cd "$run/logs" && "$build/fuzz/fuzz_$name" -jobs="$jobs" -workers="$jobs" -max_total_time="$seconds" \
     -timeout=10 -print_final_stats=1 -artifact_prefix="$run/findings/" \
     "$run/corpus" "$top/fuzz/corpus/$name" >jobs.log 2>&1) || status=1
  logs=("$run"/logs/fuzz-*.log)
  findings=$(find "$run/findings" -type f | sort | tr '\n' ' ')
  [ -z "$findings" ] || status=1
  summary+=$(printf '\n%-20s %12s %9s %6s %9s  %s' "$name" "$(total number_of_executed_units "${logs[@]}")" \
    "$(total average_exec_per_sec "${logs[@]}")" "$(largest cov "${logs[@]}")" \
    "$(largest ft "${logs[@]}")" "${findings:-none}")
done
echo "$summary"
exit $status
