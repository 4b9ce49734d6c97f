#!/usr/bin/env bash
# Runs the Python tests on a free-threaded CPython 3.13 (built with --disable-gil), where the module
# declares that it runs without the GIL: the whole suite, then the test of 16 threads parsing at once
# 20 more times with PYTHON_GIL=0.
#
# The interpreter is built once, from the pristine upstream source that Debian's trixie source
# package ships (its orig tarball, without Debian's patches), into $FT_PREFIX (/opt/py-ft); a
# deb-src entry for trixie is added to apt's sources for that. The build takes about 25 minutes on
# two busy cores. A venv of it with the test dependencies lives in build/freethreaded/venv (made
# once), the module is built beside it with CMake.
#
#   tools/freethreaded.sh [PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."

prefix="${FT_PREFIX:-/opt/py-ft}"
version=3.13
dir="$PWD/build/freethreaded"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ! -x "$prefix/bin/python${version}t" ]; then
  sources=/etc/apt/sources.list.d/freethreaded-src.sources
  if [ ! -f "$sources" ]; then
    # The archive that apt already takes the system's packages from.
    mirror="$(sed -nE 's/^URIs: (\S+\/debian)$/\1/p; s/^deb (\S+\/debian) .*/\1/p' /etc/apt/sources.list \
      /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)"
    printf '%s\n' "Types: deb-src" "URIs: $mirror" "Suites: trixie" "Components: main" \
      "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" | $sudo tee "$sources" >/dev/null
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq dpkg-dev build-essential pkg-config libssl-dev zlib1g-dev libffi-dev \
    libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev libexpat1-dev
  mkdir -p "$dir/src"
  (cd "$dir/src" && apt-get source --download-only -qq "python$version")
  tar -xf "$dir"/src/python"$version"_*.orig.tar.xz -C "$dir/src"
  source="$(find "$dir/src" -maxdepth 1 -type d -name "Python-$version.*" | sort -V | tail -n 1)"
  (cd "$source" && ./configure -q --disable-gil --prefix="$prefix" --without-ensurepip &&
    make -s -j "${BUILD_JOBS:-2}" && $sudo make -s install) >"$dir/interpreter-build.log" 2>&1
  $sudo "$prefix/bin/python${version}t" -m ensurepip >/dev/null
fi

if [ ! -x "$dir/venv/bin/pytest" ]; then
  "$prefix/bin/python${version}t" -m venv "$dir/venv"
  # mypy from 1.19 on needs a Rust extension that has no wheel for the free-threaded 3.13.
  "$dir/venv/bin/python" -m pip install -q pytest "mypy<1.19" warcio "dask[bag,distributed]"
fi
python="$dir/venv/bin/python"
cmake -S . -B "$dir" -DPython_EXECUTABLE="$python" -DHTMLTESS_WERROR=ON >/dev/null
cmake --build "$dir" -j "${BUILD_JOBS:-2}" --target htmltess >/dev/null

export PYTHONPATH="$dir:python"
unset PYTHON_GIL
# Dask's profiler thread walks the frames of other threads, which crashes a free-threaded 3.13 now
# and then (the interpreter frees a frame while it is read); the Dask run of the WARC example is
# spared it.
export DASK_DISTRIBUTED__WORKER__PROFILE__ENABLED=False
"$python" -c 'import sys, sysconfig, htmltess
assert sysconfig.get_config_var("Py_GIL_DISABLED") == 1, "not a free-threaded interpreter"
assert not sys._is_gil_enabled(), "importing htmltess enabled the GIL"
print(sys.version, "- GIL disabled after import htmltess")'
"$python" -m pytest -q -p no:cacheprovider tests/python --tb=short "$@"
threads=tests/python/test_misbehaving_handlers.py::test_threads_parsing_at_once_with_their_own_handlers_get_what_a_serial_run_gets
for run in $(seq 20); do
  PYTHON_GIL=0 "$python" -m pytest -q -p no:cacheprovider "$threads" --tb=short >"$dir/threads.log" 2>&1 ||
    { cat "$dir/threads.log"; echo "threads test failed on run $run"; exit 1; }
done
echo "threads test: 20 runs passed with PYTHON_GIL=0"
