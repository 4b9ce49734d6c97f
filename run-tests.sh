#!/usr/bin/env bash
# Runs every test: installs what the tests need, builds and installs the
# package, builds and runs the C++ tests with ctest, then runs pytest.
set -euo pipefail
cd "$(dirname "$0")"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ! -f /usr/include/gtest/gtest.h ]; then
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq libgtest-dev
fi

python3 -m pip install -q ".[test]" -C cmake.define.HTMLTESS_WERROR=ON

cmake -S . -B build/tests -DHTMLTESS_BUILD_MODULE=OFF -DHTMLTESS_BUILD_TESTS=ON -DHTMLTESS_WERROR=ON
cmake --build build/tests -j "$(nproc)"
ctest --test-dir build/tests --output-on-failure -j "$(nproc)"

python3 -m pytest
