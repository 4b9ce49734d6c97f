"""Command-line front end of htmltess."""


def main() -> int:
    raise SystemExit("htmltess: command line not available yet")
