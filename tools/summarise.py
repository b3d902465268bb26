#!/usr/bin/env python3
"""Adds up the JUnit reports of a test run and prints one summary line,
after the names of the cases that failed, so that the last lines of a long
log say what went wrong. Exits non-zero if anything failed or a report is
missing."""
import sys
import xml.etree.ElementTree as ET


def count(path):
    root = ET.parse(path).getroot()
    suites = [root] if root.tag == "testsuite" else root.iter("testsuite")
    total = failed = skipped = 0
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            print("failed: " + "::".join(filter(None, [case.get("classname"), case.get("name")])))
    for suite in suites:
        total += int(suite.get("tests", 0))
        failed += int(suite.get("failures", 0)) + int(suite.get("errors", 0))
        skipped += int(suite.get("skipped", 0) or suite.get("disabled", 0))
    return total, failed, skipped


def main(paths):
    passed = failed = skipped = 0
    for path in paths:
        try:
            total, bad, skip = count(path)
        except (OSError, ET.ParseError):
            print(f"missing or unreadable report: {path}")
            failed += 1
            continue
        passed += total - bad - skip
        failed += bad
        skipped += skip
    line = f"Summary: {passed} passed, {failed} failed"
    print(line + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
