#!/bin/sh
# The mutation check: puts each fault of tests/mutants/mutants.txt into a copy
# of the sources (build/mutants/tree) and runs the fast tests against it.
#   scripts/mutants.sh [--list] [NAME|PATTERN...]
# Not part of scripts/test.sh: a full run takes most of an hour.
exec /usr/bin/python3 "$(dirname "$0")/../tests/mutants/runMutants.py" "$@"
