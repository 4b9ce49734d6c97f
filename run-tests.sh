#!/usr/bin/env bash
# Runs every test: installs what the tests need, builds and installs the
# package, lints the tree, builds and runs the C++ tests with ctest, runs them
# again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzzes the
# tokenizer for a minute while the Python tests run on the other installed
# Pythons, and runs the Python tests with pytest.
set -euo pipefail
cd "$(dirname "$0")"

# The clang runtime package (libFuzzer, sanitizers) matching the clang that is
# or will be installed: libclang-rt-N-dev in newer Debian releases,
# libclang-common-N-dev in older ones.
clang_runtime_package() {
  local major
  if command -v clang >/dev/null; then
    major="$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)"
  else
    major="$(apt-cache depends clang | sed -n 's/.*Depends: clang-\([0-9]*\)$/\1/p' | head -n 1)"
  fi
  for package in "libclang-rt-$major-dev" "libclang-common-$major-dev"; do
    if apt-cache show "$package" >/dev/null 2>&1; then
      echo "$package"
      return
    fi
  done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
# clang with its libFuzzer and sanitizer runtimes, probed by linking a fuzz target.
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null || missing+=(clang)
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  [[ " ${missing[*]} " != *" clang "* ]] || missing+=("$(clang_runtime_package)")
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

# The fuzzer keeps one core busy; the other runs the Python tests on the other Pythons.
tools/test-pythons.sh >build/test-pythons.log 2>&1 &
pythons=$!
FUZZ_BUILD_JOBS="$(nproc)" tools/fuzz.sh 60

python3 -m pytest
status=0
wait "$pythons" || status=$?
cat build/test-pythons.log
exit "$status"
