#!/usr/bin/env bash
# Runs every test: installs what the tests need, builds and installs the
# package, lints the tree, builds and runs the C++ tests with ctest, runs them
# again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzzes the
# tokenizer for a minute, and runs the Python tests with pytest.
set -euo pipefail
cd "$(dirname "$0")"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
# clang with its libFuzzer and sanitizer runtimes, probed by linking a fuzz target.
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null || missing+=(clang libclang-rt-14-dev)
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}"
fi

python3 -m pip install -q ".[test]" -C cmake.define.HTMLTESS_WERROR=ON
tools/lint.sh

cmake -S . -B build/tests -DHTMLTESS_BUILD_MODULE=OFF -DHTMLTESS_BUILD_TESTS=ON -DHTMLTESS_WERROR=ON
cmake --build build/tests -j "$(nproc)"
ctest --test-dir build/tests --output-on-failure -j "$(nproc)"

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHTMLTESS_BUILD_MODULE=OFF -DHTMLTESS_BUILD_TESTS=ON \
  -DHTMLTESS_WERROR=ON -DHTMLTESS_SANITIZE=address,undefined
cmake --build build/asan -j "$(nproc)"
ctest --test-dir build/asan --output-on-failure -j "$(nproc)"

FUZZ_BUILD_JOBS="$(nproc)" tools/fuzz.sh 60

python3 -m pytest
