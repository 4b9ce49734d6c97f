import sys


def pytest_terminal_summary(terminalreporter):
    suite = sys.modules.get("test_html5lib")
    if suite is not None:
        terminalreporter.write_line(suite.summary_line())
