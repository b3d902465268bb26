#!/usr/bin/env python3
"""Adds up the JUnit reports of a test run and prints one summary line,
after the names of the cases that failed, so that the last lines of a long
log say what went wrong. Above those, the time each step took (given as
--took NAME=SECONDS) and each test file's, from the cases' file attribute,
so that what is slow shows at a glance. Exits non-zero if anything failed
or a report is missing."""
import argparse
import sys
import xml.etree.ElementTree as ET


def count(path, failures, file_times):
    root = ET.parse(path).getroot()
    suites = [root] if root.tag == "testsuite" else root.iter("testsuite")
    total = failed = skipped = 0
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failures.append("failed: " + "::".join(filter(None, [case.get("classname"), case.get("name")])))
        if case.get("file"):
            file_times[case.get("file")] = file_times.get(case.get("file"), 0) + float(case.get("time", 0))
    for suite in suites:
        total += int(suite.get("tests", 0))
        failed += int(suite.get("failures", 0)) + int(suite.get("errors", 0))
        skipped += int(suite.get("skipped", 0) or suite.get("disabled", 0))
    return total, failed, skipped


def main(args):
    parser = argparse.ArgumentParser()
    parser.add_argument("--took", action="append", default=[], metavar="NAME=SECONDS")
    parser.add_argument("reports", nargs="*")
    args = parser.parse_args(args)
    passed = failed = skipped = 0
    failures, file_times = [], {}
    for path in args.reports:
        try:
            total, bad, skip = count(path, failures, file_times)
        except (OSError, ET.ParseError):
            failures.append(f"missing or unreadable report: {path}")
            failed += 1
            continue
        passed += total - bad - skip
        failed += bad
        skipped += skip
    if args.took or file_times:
        print("Times:")
    for name, seconds in (step.rsplit("=", 1) for step in args.took):
        print(f"{int(seconds):6d} s  {name}")
    # Each file's cases ran within the last step, pytest's, so they come under it.
    for name, seconds in file_times.items():
        print(f"{round(seconds):6d} s    {name}")
    for failure in failures:
        print(failure)
    line = f"Summary: {passed} passed, {failed} failed"
    print(line + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
