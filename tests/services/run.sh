#!/usr/bin/env bash
# Run-time services through whole programs, run from the repository root:
# every case of this directory under kep0 and again compiled by the native
# compiler (built by make), then the cases only compiled programs can run
# (raw system calls, raw memory, native libraries, fault injection), and
# the cases that need permission checks, which do not apply to root.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
here=tests/services
# An environment entry whose value holds "=", which children must see as it
# is and which no name holding "=" may match.
export KEP_SERVICES_PAIR="a=b"
status=0
bash tests/run_cases.sh "$here" "$here/compiled" || status=1
if [ "$(id -u)" = 0 ]; then
  echo "SKIP $here/unprivileged: running as root, where permission checks do not apply"
else
  bash tests/run_cases.sh "$here/unprivileged" || status=1
fi
exit $status
