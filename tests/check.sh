#!/usr/bin/env bash
# Runs every test suite of the tree; exits 1 when any suite fails.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
failed=()
run_suite() {
  local name=$1 start=$SECONDS; shift
  echo "== $name"
  if ! "$@"; then failed+=("$name"); fi
  echo "-- $name: $((SECONDS - start)) s"
}
run_suite lang bash tests/run_cases.sh tests/lang
for script in tests/*/run.sh cuda/tests/run.sh; do
  [ -f "$script" ] && run_suite "${script%/run.sh}" bash "$script"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed suites: ${failed[*]}"
  exit 1
fi
echo "all suites passed"
