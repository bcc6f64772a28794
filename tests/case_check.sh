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
