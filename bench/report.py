"""The results table and the description of the machine and software it was measured on."""

from __future__ import annotations

import datetime
import os
import platform
import statistics
import subprocess
from dataclasses import dataclass, field
from importlib import metadata
from pathlib import Path


@dataclass
class Row:
    """One line of the table: a timed pass (`seconds`, one per repetition) or a fixed `result` text."""

    workload: str
    label: str
    nbytes: int
    reference: tuple[str, str] | None = None  # (workload, label) of the row the ratio is taken against
    note: str = ""
    seconds: list[float] = field(default_factory=list)
    result: str | None = None

    @property
    def key(self) -> tuple[str, str]:
        return (self.workload, self.label)

    def mbps(self, seconds: float | None = None) -> float:
        return self.nbytes / 1e6 / (statistics.median(self.seconds) if seconds is None else seconds)


def ratio(row: Row, rows: dict[tuple[str, str], Row]) -> float | None:
    """Throughput of the row over that of its reference, when both were timed."""
    reference = rows.get(row.reference) if row.reference else None
    if reference is None or not row.seconds or not reference.seconds:
        return None
    return row.mbps() / reference.mbps()


def markdown_table(rows: list[Row]) -> str:
    by_key = {row.key: row for row in rows}
    lines = [
        "| Workload | Implementation | Input MB | Result | MB/s min–max | × htmltess | Notes |",
        "|---|---|---:|---:|---:|---:|---|",
    ]
    for row in rows:
        if row.seconds:
            result = f"{row.mbps():.2f} MB/s"
            spread = f"{row.mbps(max(row.seconds)):.2f}–{row.mbps(min(row.seconds)):.2f}"
        else:
            result, spread = row.result or "n/a", ""
        factor = ratio(row, by_key)
        cells = [
            row.workload,
            row.label,
            f"{row.nbytes / 1e6:.1f}" if row.nbytes else "",
            result,
            spread,
            f"{factor:.2f}" if factor is not None else "",
            row.note,
        ]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def _cpu_model() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def _version(distribution: str) -> str:
    try:
        return metadata.version(distribution)
    except metadata.PackageNotFoundError:
        return "not installed"


def _source_revision(root: Path) -> str:
    try:
        commit = subprocess.run(
            ["git", "-C", str(root), "describe", "--always", "--dirty"],
            capture_output=True,
            text=True,
            check=True,
        )
    except (OSError, subprocess.CalledProcessError):
        return "unknown revision"
    return commit.stdout.strip()


def environment(root: Path, htmltess_file: str) -> list[str]:
    """Bullet lines naming the machine, the interpreter and every package measured."""
    try:
        from lxml import etree

        libxml2 = " (libxml2 " + ".".join(map(str, etree.LIBXML_VERSION)) + ")"
    except ImportError:
        libxml2 = ""
    load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
    return [
        f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC",
        (
            f"- Machine: {_cpu_model()}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
            f"load average at start {load}"
        ),
        f"- Python: {platform.python_implementation()} {platform.python_version()}",
        (
            f"- htmltess: imported from {htmltess_file} (installed distribution: {_version('htmltess')}); "
            f"source tree at {_source_revision(root)}"
        ),
        (
            f"- Peers: html5lib {_version('html5lib')}, lxml {_version('lxml')}{libxml2}, "
            f"selectolax {_version('selectolax')}"
        ),
    ]
