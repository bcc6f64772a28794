#!/usr/bin/env bash
# Runs every test suite of the tree, KEP_CHECK_JOBS of them at a time (half
# the processors by default), and prints each suite's output whole, in the
# order of the list; exits 1 when any suite fails.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
logs=$(mktemp -d); trap 'rm -rf "$logs"' EXIT
jobs=${KEP_CHECK_JOBS:-$(( ($(nproc) + 1) / 2 ))}
names=(lang); commands=("bash tests/run_cases.sh tests/lang")
for script in tests/*/run.sh cuda/tests/run.sh; do
  [ -f "$script" ] && names+=("${script%/run.sh}") && commands+=("bash $script")
done
# run_suite I: suite I's output and time in its log, its status in its own file.
run_suite() {
  local start=$SECONDS
  { echo "== ${names[$1]}"; ${commands[$1]}; echo $? > "$logs/$1.status"
    echo "-- ${names[$1]}: $((SECONDS - start)) s"; } > "$logs/$1.log" 2>&1
}
for i in "${!names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_suite "$i" &
done
wait
failed=()
for i in "${!names[@]}"; do
  cat "$logs/$i.log"
  [ "$(cat "$logs/$i.status" 2>/dev/null)" = 0 ] || failed+=("${names[$i]}")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed suites: ${failed[*]}"
  exit 1
fi
echo "all suites passed"
