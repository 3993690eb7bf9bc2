#!/usr/bin/env bash
# Builds the benchmarks in Release, runs every one of them, and writes
# BENCHMARKS.md: the tables, the machine they ran on, how to reproduce them.
#
#   bench/run.sh                  # build in build-bench/, write BENCHMARKS.md
#   BUILD_DIR=/tmp/b bench/run.sh # another build directory
#   REPETITIONS=3 bench/run.sh    # fewer repetitions (default 5)
#
# Raw JSON results are kept in $BUILD_DIR/results/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build-bench}
repetitions=${REPETITIONS:-5}
results=$build/results

# Prerequisites: the project's own, plus Google Benchmark, Python and
# valgrind (instruction counts) and gnuplot (the conversion chart).
tools/deps.sh
extra=()
for p in libbenchmark-dev python3 valgrind gnuplot-nox; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${extra[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMOKAVI_BUILD_BENCHMARKS=ON -DMOKAVI_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2
mkdir -p "$results"
rm -f "$results"/*.json "$results"/instructions.txt

# Repetitions interleaved at random, so that a slow spell on a shared
# machine spreads over every variant instead of landing on one; the report
# uses the medians.
common=(--benchmark_format=json --benchmark_repetitions="$repetitions"
        --benchmark_enable_random_interleaving=true)

found=0
while IFS= read -r bin; do
  found=1
  name=$(basename "$bin")
  echo "== $name" >&2
  if [ "$name" = bench_api ]; then
    # Interpreter creation reads the locale: measure it under a UTF-8
    # locale and under the C locale.
    env -u LC_ALL LANG=C.UTF-8 "$bin" "${common[@]}" >"$results/$name.json"
    env LC_ALL=C LANG=C "$bin" "${common[@]}" --benchmark_filter='^CreateDestroy/' \
      >"$results/$name.lc_all_c.json"
  else
    "$bin" "${common[@]}" >"$results/$name.json"
  fi
done < <(find "$build/bench" -type f -executable -name 'bench_*' | sort)
[ "$found" = 1 ] || { echo "no benchmark executables under $build/bench" >&2; exit 1; }

# Instructions per step of each API case and its reference, counted by
# callgrind: unlike times, they do not move with the machine's load.
api=$build/bench/api/bench_api
count() {  # locale-label case steps env-command...
  local label=$1 case=$2 steps=$3 ir
  shift 3
  ir=$("$@" valgrind --tool=callgrind --toggle-collect=mokavi_counted_loop \
         --callgrind-out-file=/dev/null "$api" --count "$case" "$steps" 2>&1 | sed -n 's/.*Collected : //p')
  echo "$label $case $(( ${ir:-0} / steps ))" >>"$results/instructions.txt"
}
if command -v valgrind >/dev/null && [ -x "$api" ]; then
  echo "== instruction counts" >&2
  while read -r case steps; do
    count LANG=C.UTF-8 "$case" "$steps" env -u LC_ALL LANG=C.UTF-8
    case $case in CreateDestroy/*) count LC_ALL=C "$case" "$steps" env LC_ALL=C LANG=C ;; esac
  done < <("$api" --cases)
fi

python3 bench/api/report.py --chart bench/conversions.png "$results" >BENCHMARKS.md
echo "wrote BENCHMARKS.md" >&2
