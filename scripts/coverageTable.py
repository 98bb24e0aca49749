#!/usr/bin/python3
"""Writes the coverage summary into the Coverage section of docs/TESTING.md.

Usage: coverageTable.py COVERAGE_JSON SUMMARY_JSON TESTING_MD

COVERAGE_JSON and SUMMARY_JSON are gcovr's --json and --json-summary output.
Only the text between the two markers below is replaced; the rest of the
section (the reasons for what is not covered) is written by hand. A file
without the section gets it appended.
"""

import json
import subprocess
import sys
from pathlib import Path

BEGIN = "<!-- coverage table: written by scripts/coverage.sh -->"
END = "<!-- end of coverage table -->"
HEADING = "## Coverage"


def percent(covered, total):
    return "-" if total == 0 else f"{100.0 * covered / total:.1f}"


def table(summary):
    rows = ["| File | Lines | % | Branches | % |", "|---|---:|---:|---:|---:|"]
    for entry in sorted(summary["files"], key=lambda e: e["filename"]):
        rows.append(f"| `{entry['filename']}` "
                    f"| {entry['line_covered']}/{entry['line_total']} "
                    f"| {percent(entry['line_covered'], entry['line_total'])} "
                    f"| {entry['branch_covered']}/{entry['branch_total']} "
                    f"| {percent(entry['branch_covered'], entry['branch_total'])} |")
    rows.append(f"| **all of src/** | {summary['line_covered']}/{summary['line_total']} "
                f"| {percent(summary['line_covered'], summary['line_total'])} "
                f"| {summary['branch_covered']}/{summary['branch_total']} "
                f"| {percent(summary['branch_covered'], summary['branch_total'])} |")
    return rows


def gaps(coverage):
    """Lines never executed and lines with a branch never taken, as list items."""
    missedLines, missedBranches = [], []
    for entry in sorted(coverage["files"], key=lambda e: e["file"]):
        name = entry["file"]
        for line in entry["lines"]:
            if line.get("gcovr/noncode") or line.get("gcovr/excluded"):
                continue
            number = line["line_number"]
            if line["count"] == 0:
                missedLines.append(f"`{name}:{number}`")
            branches = line["branches"]
            untaken = [str(i) for i, branch in enumerate(branches) if branch["count"] == 0]
            if untaken and line["count"] > 0:
                missedBranches.append(f"`{name}:{number}` (branch {', '.join(untaken)} "
                                      f"of {len(branches)})")
    return missedLines, missedBranches


def listing(title, items):
    if not items:
        return [f"{title}: none.", ""]
    return [f"{title}:", ""] + [f"- {item}" for item in items] + [""]


def block(coverage, summary):
    commit = subprocess.run(["git", "describe", "--always", "--dirty"], capture_output=True,
                            text=True).stdout.strip() or "unknown"
    missedLines, missedBranches = gaps(coverage)
    lines = [BEGIN, "", f"Measured at commit `{commit}`.", ""]
    lines += table(summary)
    lines += [""] + listing("Lines never executed", missedLines)
    lines += listing("Branches never taken, in gcov's numbering", missedBranches)
    lines += [END]
    return "\n".join(lines)


def main():
    coverage = json.loads(Path(sys.argv[1]).read_text())
    summary = json.loads(Path(sys.argv[2]).read_text())
    doc = Path(sys.argv[3])
    text = doc.read_text() if doc.exists() else ""
    new = block(coverage, summary)
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        text = head + new + rest.split(END, 1)[1]
    else:
        if text and not text.endswith("\n\n"):
            text = text.rstrip("\n") + "\n\n"
        text += f"{HEADING}\n\n{new}\n"
    doc.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
