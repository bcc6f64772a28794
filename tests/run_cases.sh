#!/usr/bin/env bash
# Runs golden KEP cases: every DIR/NAME.kep that has a NAME.out next to it.
#   NAME.out     expected standard output (required)
#   NAME.err     expected standard error (default: empty)
#   NAME.status  expected exit status (default: 0)
#   NAME.args    arguments, one per line (optional)
#   NAME.in      standard input (optional; default: empty)
# A case may write scratch files below $KEP_CASE_TMP, a fresh directory.
# The runner is the first argument's executor (default: bootstrap/kep0) and runs
# from the repository root. Ends with "N passed, N failed"; exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. tests/case_check.sh
runner=${KEP_RUN:-bootstrap/kep0}
pass=0; fail=0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
# A case that writes files (images it builds, say) writes them below this
# directory, so that runs side by side never share a path.
export KEP_CASE_TMP="$tmp"
for dir in "$@"; do
  for src in "$dir"/*.kep; do
    base=${src%.kep}
    [ -f "$base.out" ] || continue
    args=()
    [ -f "$base.args" ] && mapfile -t args < "$base.args"
    input=/dev/null; [ -f "$base.in" ] && input="$base.in"
    $runner "$src" "${args[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
    problems=$(case_problems "$base" "$tmp/out" "$tmp/err" $? 0)
    if [ -z "$problems" ]; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1))
      echo "FAIL $src:$problems"
      if [ -n "${VERBOSE:-}" ]; then
        diff "$base.out" "$tmp/out" | head -20
        [ -f "$base.err" ] && diff "$base.err" "$tmp/err" | head -20
      fi
    fi
  done
done
echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
