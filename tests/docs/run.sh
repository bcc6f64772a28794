#!/usr/bin/env bash
# Every example of docs/ as a test: each program under kep0 and compiled by
# the native compiler, each shell example with the tree's programs on PATH,
# against the output, error, diagnostic and status the document shows
# beside it (tests/docs/examples.py describes the form); then the error
# catalogue against the sources (tests/docs/catalogue.py).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0
python3 tests/docs/examples.py docs/*.md || status=1
python3 tests/docs/catalogue.py || status=1
exit $status
