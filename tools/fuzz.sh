#!/usr/bin/env bash
# Fuzzes the tokenizer for SECONDS seconds (default 60) with libFuzzer, ASan and
# UBSan. Builds build/fuzz with clang, writes the seed corpus from the
# html5lib tests and the web pages under ../shared, and keeps what the fuzzer
# learns in build/fuzz/corpus across runs. A crashing input is written to
# build/fuzz/artifacts/ and the script fails; replay it with
#   build/fuzz/htmltess_fuzz_tokenizer build/fuzz/artifacts/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs="${FUZZ_BUILD_JOBS:-2}"

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHTMLTESS_BUILD_MODULE=OFF \
  -DHTMLTESS_BUILD_FUZZ=ON -DHTMLTESS_WERROR=ON >/dev/null
cmake --build build/fuzz -j "$jobs" --target htmltess_fuzz_tokenizer
python3 tests/fuzz/make_seeds.py . build/fuzz/seeds
mkdir -p build/fuzz/corpus build/fuzz/artifacts
build/fuzz/htmltess_fuzz_tokenizer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 -dict=tests/fuzz/html.dict -artifact_prefix=build/fuzz/artifacts/ \
  build/fuzz/corpus build/fuzz/seeds
