"""Hostile documents must finish with the counts their construction implies, from memory and from a file.

Each parse runs in a child process, so that a crash fails its test instead of the whole run; the timeout
is far above the expected time and only catches hangs. tools/hostile.py measures the same cases at full
size.
"""

import json
import subprocess
import sys
from pathlib import Path

import htmltess
import pytest
from hostile_documents import CASES

SIZE = 300_000
# The child imports the same module as this process, and the documents and counting handler beside this file.
PATH = [str(Path(htmltess.__file__).parent), str(Path(__file__).parent)]
CHILD = f"""
import json, sys
sys.path[:0] = {PATH!r}
import counting, hostile_documents
document, _ = hostile_documents.CASES[sys.argv[1]]({SIZE})
if sys.argv[2] == "file":
    with open(sys.argv[3], "wb") as out:
        out.write(document)
print(json.dumps(counting.count_file(sys.argv[3]) if sys.argv[2] == "file" else counting.count(document)))
"""


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("source", ["memory", "file"])
def test_hostile_document(name, source, tmp_path):
    command = [sys.executable, "-c", CHILD, name, source, tmp_path / "hostile.html"]
    child = subprocess.run(command, check=False, capture_output=True, text=True, timeout=300)
    assert (child.returncode, child.stderr) == (0, "")
    assert json.loads(child.stdout) == CASES[name](SIZE)[1]
