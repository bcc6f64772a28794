# Sourced by the case runners: compares one run with a golden case.
#   case_problems BASE OUT ERR STATUS DEFAULT_STATUS
# prints what differs from BASE.out, BASE.err (default: empty) and
# BASE.status (default: DEFAULT_STATUS), or nothing when the run matches.
case_problems() {
  local base=$1 out=$2 err=$3 status=$4 want_status=$5 want_err=/dev/null problems=""
  [ -f "$base.status" ] && want_status=$(cat "$base.status")
  [ -f "$base.err" ] && want_err="$base.err"
  cmp -s "$out" "$base.out" || problems="$problems stdout"
  cmp -s "$err" "$want_err" || problems="$problems stderr"
  [ "$status" = "$want_status" ] || problems="$problems status($status, want $want_status)"
  printf '%s' "$problems"
}

# Sourced by the suites that run programs expected to fail:
#   expect_failure LABEL STATUS STDERR COMMAND...
# runs COMMAND with its standard output discarded and prints a FAIL line
# when its exit status or standard error differ from STATUS and STDERR;
# returns 1 then.
expect_failure() {
  local label=$1 want_status=$2 want_err=$3 err code
  shift 3
  err=$("$@" 2>&1 >/dev/null)
  code=$?
  if [ "$code" != "$want_status" ] || [ "$err" != "$want_err" ]; then
    echo "FAIL $label: status $code, stderr: $err"
    return 1
  fi
}
