#!/usr/bin/env bash
# Runs the Python test suite against the extension built with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking.
#
#   tools/asan-pytest.sh [PYTEST ARGS...]
#
# The module is built with the system compiler (gcc) in build/asan-py. The
# interpreter itself is not instrumented, so the matching libasan is preloaded
# (it must come first to intercept malloc), PYTHONMALLOC=malloc routes every
# Python allocation through it, and tools/lsan-python.supp suppresses the
# interpreter's own allocations that are still unreachable at exit; what the
# extension leaks is still reported. Any report fails the run. The WARC
# example's test is left out: importing Dask's distributed leaves objects of its
# own unreachable at exit, which LeakSanitizer reports with no frame of the
# extension, even when no test runs.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/asan-py -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHTMLTESS_WERROR=ON \
  -DHTMLTESS_SANITIZE=address,undefined >/dev/null
cmake --build build/asan-py -j "${BUILD_JOBS:-2}" --target htmltess

libasan="$(g++ -print-file-name=libasan.so)"
python="$(python3 -c 'import sys; print(sys.executable)')"  # the interpreter itself, not a wrapper script
LD_PRELOAD="$libasan" PYTHONMALLOC=malloc PYTHONPATH=build/asan-py:python \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tools/lsan-python.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$python" -m pytest -q -p no:cacheprovider tests/python --ignore=tests/python/test_warc_example.py "$@"
