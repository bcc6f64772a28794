#!/usr/bin/env bash
# Runs the standard library's tests: every NAME.kep here that has a NAME.out,
# the Float oracle check (float_oracle_check.kep over float_oracle.txt)
# among them, under kep0 and compiled. Each program gets ten minutes, so that a step that has turned
# quadratic fails instead of hanging. Then the Float oracle once more
# through the library compiled into an image (every 10th case), and the
# String methods on a text of 100 MB (large_text.kep) under a 4 GiB cap.
# Exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0
bash tests/run_cases.sh tests/stdlib || status=1

tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
result="did not compile"
if bootstrap/kep0 compiler/pure/kepc_direct.kep tests/stdlib/float_oracle_check.kep "$tmp/oracle"; then
  result=$(timeout 600 "$tmp/oracle" tests/stdlib/float_oracle.txt 10 2>&1 | tail -1)
fi
if [[ $result =~ ^[0-9]+\ passed,\ 0\ failed$ ]]; then
  echo "compiled Float oracle: $result"
else
  echo "FAIL compiled Float oracle: $result"
  status=1
fi

# String methods on a text of 100 MB, compiled, under a 4 GiB address-space
# cap: each needs about its text and its result (large_text.kep).
result="did not compile"
if compiler/pure/kepc-direct tests/stdlib/large_text.kep "$tmp/large_text"; then
  result=$(bash -c 'ulimit -v 4194304; exec timeout 600 "$0"' "$tmp/large_text" 2>&1 | tail -1)
fi
if [ "$result" = "large text, failed: []" ]; then
  echo "$result"
else
  echo "FAIL tests/stdlib/large_text.kep: $result"
  status=1
fi
exit $status
