#!/usr/bin/env bash
# Runs the Python tests on every other supported Python (3.9 to 3.13) that pyenv has installed:
# for each, a venv with pytest in build/pythons/X.Y/venv (made once), the module built beside it with
# CMake, and the suite without its version-independent bulk, the html5lib conformance data, which
# exercises the C++ tokenizer, the same on every Python.
# The Python that runs this script is left out: the main test command runs the whole suite with it.
#
#   tools/test-pythons.sh [PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."

versions="${PYENV_ROOT:-$HOME/.pyenv}/versions"
current="$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
failed=()
for version in 3.9 3.10 3.11 3.12 3.13; do
  [ "$version" != "$current" ] || continue
  interpreter="$(find "$versions" -maxdepth 1 -name "$version.*" 2>/dev/null | sort -V | tail -n 1)/bin/python3"
  if [ ! -x "$interpreter" ]; then
    echo "python $version: not installed, skipped"
    continue
  fi
  dir="build/pythons/$version"
  if [ ! -x "$dir/venv/bin/pytest" ]; then
    "$interpreter" -m venv "$dir/venv"
    "$dir/venv/bin/python" -m pip install -q pytest
  fi
  cmake -S . -B "$dir" -DPython_EXECUTABLE="$PWD/$dir/venv/bin/python" -DHTMLTESS_WERROR=ON >/dev/null
  cmake --build "$dir" -j "${BUILD_JOBS:-2}" --target htmltess >/dev/null
  echo "python $version:"
  PYTHONPATH="$dir:python" "$dir/venv/bin/python" -m pytest -q -p no:cacheprovider tests/python \
    --ignore tests/python/test_html5lib.py \
    --tb=short "$@" || failed+=("$version")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "python tests failed on: ${failed[*]}"
  exit 1
fi
