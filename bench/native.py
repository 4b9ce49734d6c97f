"""Builds and runs the native core benchmark, `htmltess_core_bench REPEATS FILE...`."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

EXECUTABLE = "htmltess_core_bench"


def build(root: Path, build_dir: Path) -> Path | None:
    """Configures (once) and builds the executable, so a re-run measures the current sources.

    Returns its path, or None with a message on stderr when it cannot be built.
    """
    executable = build_dir / EXECUTABLE
    if shutil.which("cmake") is None:
        if executable.exists():
            return executable
        print(f"native floor skipped: cmake not found and no {executable}", file=sys.stderr)
        return None
    steps = []
    if not (build_dir / "CMakeCache.txt").exists():
        steps.append(
            [
                "cmake",
                "-S",
                str(root),
                "-B",
                str(build_dir),
                "-DCMAKE_BUILD_TYPE=Release",
                "-DHTMLTESS_BUILD_BENCH=ON",
                "-DHTMLTESS_BUILD_MODULE=OFF",
            ]
        )
    jobs = str(os.cpu_count() or 1)
    steps.append(["cmake", "--build", str(build_dir), "--target", EXECUTABLE, "-j", jobs])
    for step in steps:
        result = subprocess.run(step, capture_output=True, text=True, check=False)
        if result.returncode != 0:
            print(
                f"native floor skipped: {' '.join(step)} failed:\n{result.stdout}{result.stderr}",
                file=sys.stderr,
            )
            return None
    return executable


def run(executable: Path, paths: list[str], repeats: int = 1) -> dict:
    """One run of the executable: {"bytes": n, "memory"/"file"/"decode": {"best": s, "median": s}}."""
    result = subprocess.run(
        [str(executable), str(repeats), *paths], capture_output=True, text=True, check=True
    )
    return json.loads(result.stdout)
