#!/usr/bin/env bash
# Lints the whole tree: ruff (check and format) over the Python sources and
# clang-format over the C++ sources. Both are pinned in the test extra.
set -euo pipefail
cd "$(dirname "$0")/.."

ruff check --quiet .
ruff format --check --quiet .
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "lint: clean"
