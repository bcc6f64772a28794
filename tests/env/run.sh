#!/usr/bin/env bash
# The env module (stdlib/env.kep) under kep0 and compiled, over a fixed
# environment: standard output, error and status must equal env_cases.*.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail=0
environment=(KEP_ENV_EMPTY= KEP_ENV_AB=ab KEP_ENV_EQ=a=b)
check() {  # check LABEL COMMAND...
  local label=$1; shift
  env -i "${environment[@]}" "$@" > "$tmp/out" 2> "$tmp/err" < /dev/null
  local problems status=$?
  problems=$(case_problems tests/env/env_cases "$tmp/out" "$tmp/err" $status 0)
  if [ -n "$problems" ]; then
    fail=1; echo "FAIL env cases ($label):$problems"
    [ -n "${VERBOSE:-}" ] && diff tests/env/env_cases.out "$tmp/out"
  fi
}
check kep0 bootstrap/kep0 tests/env/env_cases.kep
if bootstrap/kep0 compiler/pure/kepc_direct.kep tests/env/env_cases.kep "$tmp/env_cases" > "$tmp/compile.out" 2>&1; then
  check compiled "$tmp/env_cases"
else
  fail=1; echo "FAIL env cases do not compile:"; head -5 "$tmp/compile.out"
fi
[ "$fail" = 0 ] && echo "env: passed"
[ "$fail" = 0 ]
