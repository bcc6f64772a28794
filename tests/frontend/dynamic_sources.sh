#!/usr/bin/env bash
# The lexer and the parser compiled as an ordinary program: copied out of
# compiler/pure/, so that they take the dynamic value convention (boxed
# values, parameters typed by their calls), dump_sources.kep is compiled
# with them and dumps the tokens and the syntax tree of every .kep file of
# the tree, one run per file; each dump must equal the one kep0 prints (a
# file with a syntax error gives the same report and status). Run from the
# repository root; exits 1 on a difference.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/frontend" "$tmp/kep0" "$tmp/compiled"
cp compiler/pure/bytes.kep compiler/pure/lexer.kep compiler/pure/parser.kep compiler/pure/diagnostics.kep tests/frontend/dump_sources.kep "$tmp/frontend/"
if ! bootstrap/kep0 compiler/pure/kepc_direct.kep "$tmp/frontend/dump_sources.kep" "$tmp/dump" > "$tmp/compile.out" 2>&1; then
  echo "FAIL the lexer and parser do not compile as an ordinary program:"; head -10 "$tmp/compile.out"
  exit 1
fi
find . -name '*.kep' -not -path './.git/*' | sort > "$tmp/files"
# dump_one FILE: both executors' dumps of FILE, with their statuses.
export tmp
dump_one() {
  local name=${1//\//_}
  bootstrap/kep0 tests/frontend/dump_sources.kep "$1" > "$tmp/kep0/$name" 2>&1; echo "status $?" >> "$tmp/kep0/$name"
  "$tmp/dump" "$1" > "$tmp/compiled/$name" 2>&1; echo "status $?" >> "$tmp/compiled/$name"
}
export -f dump_one
xargs -P "$(nproc)" -I{} bash -c 'dump_one "$1"' _ {} < "$tmp/files"
if ! diff -rq "$tmp/kep0" "$tmp/compiled" > "$tmp/differences"; then
  echo "FAIL tokens or trees differ when the front end is compiled:"
  head -10 "$tmp/differences"
  exit 1
fi
echo "front end compiled as an ordinary program: $(wc -l < "$tmp/files") files dumped alike"
