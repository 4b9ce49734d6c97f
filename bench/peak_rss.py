"""Peak resident memory of one parse of a file, measured in a fresh interpreter.

Run as a script with a path, it parses that file with a handler that overrides nothing and prints the peak
RSS (ru_maxrss, KiB) before and after the parse as JSON: by one html_parse_file call, or, given a chunk size
as well, by feeding a Parser the file's chunks as they are read. `growth_mb` runs it in a subprocess.
"""

from __future__ import annotations

import json
import subprocess
import sys


def growth_mb(path: str, chunk: int = 0) -> float:
    """How much the peak RSS of a fresh interpreter grows while parsing the file, in MB (fed by chunks if given)."""
    command = [sys.executable, __file__, path] + ([str(chunk)] if chunk else [])
    result = subprocess.run(command, capture_output=True, text=True, check=True)
    peaks = json.loads(result.stdout)
    return (peaks["after_kib"] - peaks["before_kib"]) * 1024 / 1e6


def _main(path: str, chunk: int) -> None:
    import resource

    import htmltess

    class Silent(htmltess.HtmlHandler):
        pass

    handler = Silent()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    if chunk:
        with open(path, "rb") as file, htmltess.Parser(handler) as parser:
            while piece := file.read(chunk):
                parser.feed(piece)
    else:
        htmltess.html_parse_file(handler, path)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"before_kib": before, "after_kib": after}))


if __name__ == "__main__":
    _main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 0)
