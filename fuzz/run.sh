#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (or
# $MOKAVI_FUZZ_BUILD_DIR) and runs each for a bounded time (default 60 s) on
# a scratch copy of its seed corpus, so the checked-in corpus stays small.
# Crashing inputs land in <build>/crashes/.
#
#   fuzz/run.sh [seconds-per-target]
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MOKAVI_FUZZ_BUILD_DIR:-${root}/build-fuzz}"
cc="${CC_FOR_FUZZING:-$(command -v clang || command -v clang-14)}"
cxx="${CXX_FOR_FUZZING:-$(command -v clang++ || command -v clang++-14)}"

cmake -S "${root}" -B "${build}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="${cc}" -DCMAKE_CXX_COMPILER="${cxx}" \
    -DMOKAVI_BUILD_FUZZERS=ON -DMOKAVI_BUILD_TESTS=OFF -DMOKAVI_BUILD_BENCHMARKS=OFF
cmake --build "${build}" --target fuzz_utf16_to_utf8 fuzz_utf8_to_utf16 -j"$(nproc)"

mkdir -p "${build}/crashes"
status=0
for target in fuzz_utf16_to_utf8 fuzz_utf8_to_utf16; do
    work="${build}/corpus/${target}"
    mkdir -p "${work}"
    cp -n "${root}/fuzz/corpus/${target}/"* "${work}/" 2>/dev/null || true
    echo "== ${target}: ${seconds} s"
    "${build}/fuzz/${target}" -max_total_time="${seconds}" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="${build}/crashes/${target}-" "${work}" || status=1
done
exit "${status}"
