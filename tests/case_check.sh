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

# Sourced by the suites that count their checks in pass and fail:
#   report NAME PROBLEMS
# counts a pass when PROBLEMS is empty, else a failure, with a FAIL line.
report() {
  if [ -z "$2" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1)); echo "FAIL $1:$2"
  fi
}

# Sourced by the suites that keep the results of their last run in
# $tmp/out, $tmp/err and $tmp/status:
#   runs_in DIR COMMAND...
# runs COMMAND in DIR with no input, its results into those files;
#   run_problems STATUS STDOUT STDERR
# prints what differs from the last run's results (the start of an output
# that differs), or nothing when the run matches.
runs_in() {
  local dir=$1
  shift
  (cd "$dir" && "$@") > "$tmp/out" 2> "$tmp/err" < /dev/null
  echo $? > "$tmp/status"
}
run_problems() {
  local problems=""
  [ "$(cat "$tmp/status")" = "$1" ] || problems=" status($(cat "$tmp/status"), want $1)"
  [ "$(cat "$tmp/out")" = "$2" ] || problems="$problems stdout($(head -c 300 "$tmp/out"))"
  [ "$(cat "$tmp/err")" = "$3" ] || problems="$problems stderr($(head -c 300 "$tmp/err"))"
  printf '%s' "$problems"
}
