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

# A SIGSEGV or SIGBUS that another process sends is no fault of the
# program's: it ends the program as the signal would, under kep0 and
# compiled alike, whether sent by kill (SI_USER), sigqueue (SI_QUEUE) or
# tkill (SI_TKILL). SIGNAL|SENDER rows.
signal_table=("11|kill" "7|kill" "11|queue" "11|tkill")
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
printf 'writefile(arg(1), "started")\n__kep_sleep(20.0)\nprint "went on"\n' > "$tmp/sleeper.kep"
compiler/pure/kepc-direct "$tmp/sleeper.kep" "$tmp/sleeper" || status=1
send() {  # PID SIGNAL SENDER
  python3 -c '
import ctypes, os, sys
pid, sig, how = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
libc = ctypes.CDLL(None, use_errno=True)
SYS_TKILL = 200
if how == "kill":
    os.kill(pid, sig)
elif how == "queue":
    libc.sigqueue(pid, sig, ctypes.c_void_p(7))
else:
    libc.syscall(SYS_TKILL, pid, sig)
' "$@"
}
for executor in "bootstrap/kep0 $tmp/sleeper.kep" "$tmp/sleeper"; do
  for row in "${signal_table[@]}"; do
    IFS='|' read -r signal sender <<< "$row"
    # The shell's own note of a child that a signal ended goes nowhere.
    (
      rm -f "$tmp/started"
      (ulimit -c 0; exec $executor "$tmp/started") > "$tmp/out" 2>&1 & pid=$!
      for _ in $(seq 200); do [ -e "$tmp/started" ] && break; sleep 0.05; done
      send "$pid" "$signal" "$sender"
      wait "$pid"
      echo $? > "$tmp/status"
    ) 2> /dev/null
    result=$(cat "$tmp/status")
    if [ "$result" != $((128 + signal)) ] || [ -s "$tmp/out" ]; then
      echo "FAIL ${executor##*/}: signal $signal by $sender: status $result, output $(head -c 100 "$tmp/out")"
      status=1
    fi
  done
done
exit $status
