#!/usr/bin/env bash
# Tests of kep-cuda-worker, in three groups:
#   worker     black-box cases on the worker itself. Where no GPU and driver
#              are present every device call fails, so these cover the
#              readers, the checks, the results that need no device and the
#              device-failure replies (matched by prefix);
#   stand-in   the shared-runtime build run on the stand-in runtime
#              (standin_cudart.cpp): device selection, probe and listing,
#              results, every failure label, the launches and copies each
#              operation makes, and that every device buffer is freed;
#   kernels    the kernels' arithmetic on the host (kernel_arithmetic_test.cpp).
# Exits non-zero when a case fails; skips when nvcc is missing.
set -u
cuda=$(cd "$(dirname "$0")/.." && pwd)
make -s -C "$cuda" tests || { echo "FAIL building the worker and its tests"; exit 1; }
if [ ! -x "$cuda/kep-cuda-worker" ]; then
  echo "kep-cuda-worker was not built (nvcc not found): skipping its tests"
  exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unset KEP_CUDA_DEVICE STANDIN_DEVICES STANDIN_NAME STANDIN_FAIL STANDIN_LOG
passed=0
failed=0

report() {  # report NAME PROBLEMS
  if [ -z "$2" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $1:$2"
  fi
}

matches() {  # matches WANT GOT: WANT is exact, or a prefix when it ends in '*'
  if [[ $1 == *'*' ]]; then [[ $2 == "${1%'*'}"* ]]; else [[ $2 == "$1" ]]; fi
}

# Standard output as text: JSON replies as they are, binary results as their
# doubles in %.17g form separated by blanks.
as_text() { cat; }
doubles_text() {
  perl -e 'local $/; my $b = <STDIN> // "";
           print length($b) % 8 ? "bytes:" . length($b)
                                : join " ", map { sprintf "%.17g", $_ } unpack "d<*", $b'
}

# Device buffers named in the stand-in's log that were never freed.
leaked_buffers() {
  [ -f "$tmp/log" ] || return 0
  comm -23 <(sed -n 's/^cudaMalloc \(buf[0-9]*\) .*/\1/p' "$tmp/log" | sort) \
           <(sed -n 's/^cudaFree \(buf[0-9]*\)$/\1/p' "$tmp/log" | sort)
}

# run_case NAME STATUS OUT ERR ARGS...: runs the worker with ARGS on
# $tmp/in and checks its exit status, standard output and standard error.
run_case() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  shift 4
  rm -f "$tmp/log"
  "${worker[@]}" "$@" < "$tmp/in" > "$tmp/out" 2> "$tmp/err"
  local status=$? problems="" out err leaked
  out=$($decode < "$tmp/out"; printf .)
  out=${out%.}
  err=$(cat "$tmp/err"; printf .)
  err=${err%.}
  leaked=$(leaked_buffers)
  [ "$status" = "$want_status" ] || problems+=" status $status (want $want_status)"
  matches "$want_out" "$out" || problems+=" stdout [$out]"
  matches "$want_err" "$err" || problems+=" stderr [$err]"
  [ -z "$leaked" ] || problems+=" device buffers never freed: $leaked"
  report "$name" "$problems"
}

# JSON cases. REQUEST is the one argument, or '-' for none: the request is
# then $STDIN. A reply or message ending in '*' is a prefix.
E='{"abi":1,"ok":false,"error":"'
reply() {  # reply NAME REQUEST REPLY
  local want=$3
  [[ $want == *'*' ]] || want+=$'\n'
  printf '%s' "${STDIN-}" > "$tmp/in"
  decode=as_text
  if [ "$2" = - ]; then run_case "$1" 0 "$want" ''; else run_case "$1" 0 "$want" '' "$2"; fi
}
ok() { reply "$1" "$2" "{\"abi\":1,\"ok\":true,\"value\":$3}"; }
fails() {
  if [[ $3 == *'*' ]]; then reply "$1" "$2" "$E$3"; else reply "$1" "$2" "$E$3\"}"; fi
}

# Binary cases. PAYLOAD is a Perl list of the doubles to send, such as
# '1, 2' or '(1) x 513', or bytes:N for N zero bytes.
binary() {  # binary NAME PAYLOAD STATUS OUT ERR ARGS...
  case $2 in
    bytes:*) head -c "${2#bytes:}" /dev/zero ;;
    *) perl -e "print pack 'd<*', ($2)" ;;
  esac > "$tmp/in"
  decode=doubles_text
  run_case "$1" "$3" "$4" "$5" --binary "${@:6}"
}
bin_ok() { binary "$1" "$2" 0 "$3" '' "${@:4}"; }
bin_fails() {
  local err=$3
  [[ $err == *'*' ]] || err+=$'\n'
  binary "$1" "$2" 2 '' "$err" "${@:4}"
}

# ---------------------------------------------------------------- worker
worker=("$cuda/kep-cuda-worker")
nodev='cudaGetDeviceCount: *'
if "${worker[@]}" '{"operation":"cuda.probe"}' | grep -q '"ok":true'; then
  echo "note: a GPU answers here; device-failure cases expect none and are skipped"
  nodev=skip
fi

# Arguments and standard input.
fails 'no argument, empty stdin' - 'worker received no JSON request on stdin'
STDIN=$' \t\r\n' fails 'stdin of blanks only' - 'request is missing key operation'
STDIN='{"operation":"cuda.sum","values":[]}' ok 'request on stdin' - 0
printf '' > "$tmp/in"; decode=as_text
run_case 'two plain arguments' 0 "${E}worker expects JSON on stdin or one argv request\"}"$'\n' '' a b
run_case 'three plain arguments' 0 "${E}worker expects JSON on stdin or one argv request\"}"$'\n' '' a b c
bin_fails '--binary alone' '' 'binary worker request has too few arguments'
bin_fails '--binary with an operation only' '' 'binary worker request has too few arguments' sum

# The request reader.
fails 'missing operation' '{}' 'request is missing key operation'
fails 'key without colon' '{"operation"}' 'request key operation has no value'
fails 'operation not a String' '{"operation":5}' 'request key operation must be a String'
fails 'value at end of text' '{"operation": ' 'request key operation has no value'
fails 'unterminated String' '{"operation":"cuda.sum' 'unterminated String in request'
fails 'unicode escape' '{"operation":"cuda.\u0073um"}' 'unsupported String escape in request'
fails 'backspace escape' '{"operation":"\b"}' 'unsupported String escape in request'
fails 'escape at end of text' '{"operation":"cuda\' 'unfinished String escape'
fails 'escapes decoded, message escaped' '{"operation":"a\"\/\\\n\r\t"}' 'unsupported CUDA operation a\"/\\\n\r\t'
fails 'control and high bytes' $'{"operation":"\x01\x1f\x7f\xc3\xa9"}' $'unsupported CUDA operation \\u0001\\u001f\x7f\xc3\xa9'
fails 'unsupported operation' '{"operation":"cuda.nope"}' 'unsupported CUDA operation cuda.nope'
ok 'keys in any order' '{"values":[],"operation":"cuda.sum"}' 0
# The request is read as JSON: only the object's own keys count, never a
# quoted key inside a String or a nested object; text that is not one object
# is refused.
ok 'a key in a String is no key' '{"operation":"cuda.sum","tag":"values","n":[1],"values":[]}' 0
ok 'a key in an escaped String is no key' '{"operation":"cuda.sum","note":"\"values\":[5]","values":[]}' 0
ok 'a key in a nested object is no key' '{"operation":"cuda.sum","meta":{"values":[1]},"values":[]}' 0
ok 'a dimension named in a String is no dimension' '{"operation":"cuda.matmul","unit":"m","k":0,"m":2,"n":2,"left":[],"right":[]}' '[0,0,0,0]'
ok 'literals and nested values elsewhere' '{"operation":"cuda.sum","a":true,"b":false,"c":null,"d":[{"e":[]}],"values":[]}' 0
fails 'an Array, not an object' '[1]' 'request is missing key operation'
fails 'text after the object' '{"operation":"cuda.sum","values":[]} x' 'unexpected text after the request object'
fails 'trailing comma in the object' '{"operation":"cuda.sum","values":[],}' 'expected String key in Object'
fails 'a key that is no String' '{"operation":"cuda.sum",5:1}' 'expected String key in Object'
fails 'members without a comma' '{"operation":"cuda.sum" "values":[]}' 'expected comma or closing brace in Object'
fails 'unterminated object' '{"operation":"cuda.sum","values":[]' 'unterminated Object in request'
fails 'a misspelt literal' '{"operation":"cuda.sum","a":tru,"values":[]}' 'invalid finite numeric value in request'
fails 'nesting without end' "{\"a\":$(printf '[%.0s' $(seq 2000))" 'request nests too deeply'
fails 'values not an Array' '{"operation":"cuda.sum","values":5}' 'request key values must be an Array'
fails 'array [,1]' '{"operation":"cuda.sum","values":[,1]}' 'invalid finite numeric value in request'
fails 'array [1' '{"operation":"cuda.sum","values":[1' 'expected comma or closing bracket in Array'
fails 'array [1;2]' '{"operation":"cuda.sum","values":[1;2]}' 'expected comma or closing bracket in Array'
fails 'array [1,' '{"operation":"cuda.sum","values":[1,' 'unterminated Array in request'
fails 'array [' '{"operation":"cuda.sum","values":[ ' 'unterminated Array in request'
# A matmul with n = 0 answers [] without a device once left holds m * k
# numbers, which shows how many the reader took.
mm0() { echo "{\"operation\":\"cuda.matmul\",\"m\":$1,\"k\":$2,\"n\":0,\"left\":$3,\"right\":[]}"; }
fails 'array [1,]' "$(mm0 1 1 '[1,]')" 'invalid finite numeric value in request'
ok 'a subnormal number' "$(mm0 1 1 '[4.9406564584124654e-324]')" '[]'
ok 'array with blanks' "$(mm0 1 3 $'[ 1 ,\t-2.5e3\n,\r0x1p4 ]')" '[]'
for number in inf nan 1e999 1e-400 '"1"' '--1'; do
  fails "number $number" "$(mm0 1 1 "[$number]")" 'invalid finite numeric value in request'
done
for dimension in 2.5 -1 2147483648; do
  fails "dimension $dimension" "$(mm0 "$dimension" 1 '[]')" 'request key m must be a non-negative Int'
done
fails 'dimension 1e999' "$(mm0 1e999 1 '[]')" 'invalid finite numeric value in request'
ok 'dimension -0 reads as 0' "$(mm0 -0 1 '[]')" '[]'
ok 'dimension 2147483647' "$(mm0 2147483647 0 '[]')" '[]'
fails 'dimension missing' '{"operation":"cuda.matmul","k":1,"n":1,"left":[],"right":[]}' 'request is missing key m'
fails 'alpha missing' '{"operation":"cuda.axpy","x":[],"y":[]}' 'request is missing key alpha'
fails 'alpha not a number' '{"operation":"cuda.axpy","alpha":"2","x":[],"y":[]}' 'invalid finite numeric value in request'

# Checks before the device and results that need none.
ok 'empty sum' '{"operation":"cuda.sum","values":[]}' 0
ok 'empty dot' '{"operation":"cuda.dot","left":[],"right":[]}' 0
fails 'dot lengths' '{"operation":"cuda.dot","left":[1],"right":[]}' 'cuda.dot arrays have different lengths'
ok 'empty axpy' '{"operation":"cuda.axpy","alpha":2,"x":[],"y":[]}' '[]'
fails 'axpy lengths' '{"operation":"cuda.axpy","alpha":2,"x":[1],"y":[]}' 'cuda.axpy arrays have different lengths'
mm() { echo "{\"operation\":\"cuda.matmul\",\"m\":$1,\"k\":$2,\"n\":$3,\"left\":$4,\"right\":$5}"; }
ok 'matmul k = 0' "$(mm 2 0 3 '[]' '[]')" '[0,0,0,0,0,0]'
ok 'matmul m = 0' "$(mm 0 2 3 '[]' '[1,2,3,4,5,6]')" '[]'
fails 'matmul left length' "$(mm 2 1 1 '[1]' '[1]')" 'cuda.matmul array lengths do not match dimensions'
fails 'matmul right length' "$(mm 1 1 2 '[1]' '[1]')" 'cuda.matmul array lengths do not match dimensions'
fails 'matmul of Int32 extremes' "$(mm 2147483647 2147483647 2147483647 '[]' '[]')" \
  'cuda.matmul array lengths do not match dimensions'
fails 'matmul output bound, k = 0' "$(mm 40000 0 40000 '[]' '[]')" 'cuda.matmul output matrix is too large'
STDIN=$(mm 16384 1 16385 "[$(seq -s, 16384)]" "[$(seq -s, 16385)]")  # too long for argv or environment
fails 'matmul output bound, k = 1' - 'cuda.matmul output matrix is too large'
unset STDIN

# Device failures: every operation that reaches the device reports it.
if [ "$nodev" != skip ]; then
  fails 'sum without a device' '{"operation":"cuda.sum","values":[1]}' "$nodev"
  fails 'dot without a device' '{"operation":"cuda.dot","left":[1],"right":[2]}' "$nodev"
  fails 'axpy without a device' '{"operation":"cuda.axpy","alpha":1,"x":[1],"y":[2]}' "$nodev"
  fails 'matmul without a device' "$(mm 1 1 1 '[1]' '[2]')" "$nodev"
  fails 'probe without a device' '{"operation":"cuda.probe"}' "$nodev"
  fails 'devices without a device' '{"operation":"cuda.devices"}' "$nodev"
  bin_fails 'binary sum without a device' '1' "$nodev" sum 1
  bin_fails 'binary matmul without a device' '1, 2' "$nodev" matmul 1 1 1
fi

# Replies that cannot be written.
printf '' > "$tmp/in"
"${worker[@]}" '{"operation":"cuda.sum","values":[]}' > /dev/full 2> "$tmp/err"
status=$?
report 'JSON reply to a full stdout' "$([ $status = 1 ] || echo " status $status")$(
  grep -qx 'cannot write reply to standard output' "$tmp/err" || echo ' no message')"
"${worker[@]}" '{"operation":"cuda.sum","values":[]}' >&- 2> "$tmp/err"
status=$?
report 'JSON reply to a closed stdout' "$([ $status = 1 ] || echo " status $status")"
"${worker[@]}" --binary sum 0 < /dev/null > /dev/full 2> "$tmp/err"
status=$?
report 'binary result to a full stdout' "$([ $status = 2 ] || echo " status $status")$(
  grep -qx 'cannot write result to standard output' "$tmp/err" || echo ' no message')"

# A reader that goes away: the failed write is reported, not a SIGPIPE.
"${worker[@]}" --binary matmul 1024 0 1024 < /dev/null 2> "$tmp/err" | true
status=${PIPESTATUS[0]}
report 'binary result to a closed pipe' "$([ $status = 2 ] || echo " status $status")$(
  grep -qx 'cannot write result to standard output' "$tmp/err" || echo ' no message')"
"${worker[@]}" "$(mm 1024 0 1024 '[]' '[]')" < /dev/null 2> "$tmp/err" | true
status=${PIPESTATUS[0]}
report 'JSON reply to a closed pipe' "$([ $status = 1 ] || echo " status $status")$(
  grep -qx 'cannot write reply to standard output' "$tmp/err" || echo ' no message')"

# Binary mode.
bin_ok 'sum 0' '' 0 sum 0
bin_fails 'sum count with a blank and a sign' '' 'invalid binary sum count' sum ' +0'
bin_ok 'dot 0' '' 0 dot 0
bin_ok 'axpy 2 0' '' '' axpy 2 0
bin_ok 'matmul 2 0 3' '' '0 0 0 0 0 0' matmul 2 0 3
bin_ok 'matmul 0 5 0' '' '' matmul 0 5 0
bin_fails 'unsupported operation' '' 'unsupported binary CUDA operation nope' nope 1
bin_fails 'unsupported operation before count' '' 'unsupported binary CUDA operation nope' nope 1 2 3 4
bin_fails 'sum arguments' '' 'binary sum expects count' sum 1 2
bin_fails 'dot arguments' '' 'binary dot expects count' dot 1 2
bin_fails 'axpy arguments' '' 'binary axpy expects alpha and count' axpy 1
bin_fails 'matmul arguments' '' 'binary matmul expects m, k, and n' matmul 1 2
bin_fails 'sum count empty' '' 'missing binary sum count' sum ''
bin_fails 'sum count 1x' '' 'invalid binary sum count' sum 1x
bin_fails 'sum count 2^64' '' 'invalid binary sum count' sum 18446744073709551616
bin_fails 'sum count -1' '' 'invalid binary sum count' sum -1
bin_fails 'sum count -(2^64 - 1)' '' 'invalid binary sum count' sum -18446744073709551615
bin_fails 'sum payload long' '1, 2, 3' 'binary sum payload length differs' sum 2
bin_fails 'sum payload short' 'bytes:7' 'binary sum payload length differs' sum 1
bin_fails 'dot count x' '' 'invalid binary dot count' dot x
bin_fails 'dot count 2^61' '' 'dot size overflow' dot 2305843009213693952
bin_fails 'dot payload short' '1, 2, 3' 'binary CUDA payload is shorter than declared' dot 2
bin_fails 'dot payload long' '1 .. 5' 'binary dot payload length differs' dot 2
bin_fails 'axpy alpha empty' '' 'missing binary axpy alpha' axpy '' 0
bin_fails 'axpy alpha text' '' 'invalid binary axpy alpha' axpy 2x 0
bin_fails 'axpy alpha infinite' '' 'invalid binary axpy alpha' axpy inf 0
bin_fails 'axpy alpha out of range' '' 'invalid binary axpy alpha' axpy 1e999 0
bin_fails 'axpy count empty' '' 'missing binary axpy count' axpy 2 ''
bin_fails 'axpy count -1' '' 'invalid binary axpy count' axpy 2 -1
bin_ok 'axpy alpha subnormal' '' '' axpy 4.9406564584124654e-324 0
bin_fails 'axpy alpha underflowing to zero' '' 'invalid binary axpy alpha' axpy 1e-400 0
bin_fails 'matmul rows with a sign' '' 'invalid binary matmul rows' matmul +1 0 1
bin_fails 'axpy payload short' '1' 'binary CUDA payload is shorter than declared' axpy 2 1
bin_fails 'axpy payload long' '1, 2, 3' 'binary axpy payload length differs' axpy 2 1
bin_fails 'matmul rows empty' '' 'missing binary matmul rows' matmul '' 1 1
bin_fails 'matmul inner text' '' 'invalid binary matmul inner' matmul 1 x 1
bin_fails 'matmul columns 1x' '' 'invalid binary matmul columns' matmul 1 1 1x
bin_fails 'matmul above Int32' '' 'binary matmul dimensions exceed Int32' matmul 1 2147483648 1
bin_fails 'matmul payload short' '1' 'binary matmul payload length differs' matmul 1 1 1
bin_fails 'matmul payload long' '1, 2, 3' 'binary matmul payload length differs' matmul 1 1 1
bin_fails 'matmul output bound' '' 'cuda.matmul output matrix is too large' matmul 40000 0 40000
echo "worker: $passed passed, $failed failed"
total_passed=$passed
total_failed=$failed
passed=0
failed=0

# -------------------------------------------------------------- stand-in
worker=(env LD_LIBRARY_PATH="$cuda/build/standin" "$cuda/build/kep-cuda-worker-shared")
export STANDIN_LOG=$tmp/log
trace_is() {  # trace_is NAME LINES: the stand-in's log of the last case ('*': prefix)
  local got
  got=$(cat "$tmp/log" 2> /dev/null)
  report "$1" "$(matches "$2" "$got" || printf ' trace:\n%s' "$got")"
}
probe_reply() {  # probe_reply DEVICE
  echo "{\"backend\":\"nvidia-cuda-runtime\",\"verified\":true,\"device\":$1,\"name\":\"Stand-in GPU\",\"compute_capability\":\"8.$((6 + $1))\",\"runtime_version\":13000,\"driver_version\":13010}"
}
device_entry() {  # device_entry INDEX ESCAPED_NAME
  echo "{\"index\":$1,\"name\":\"$2\",\"backend\":\"nvidia-cuda-runtime\",\"compute_capability\":\"8.$((6 + $1))\",\"memory_bytes\":25769803776,\"multiprocessors\":84,\"runtime_version\":13000,\"driver_version\":13010}"
}

# Probe and device selection.
ok 'probe' '{"operation":"cuda.probe"}' "$(probe_reply 0)"
trace_is 'probe launches one thread' 'cudaSetDevice 0
cudaMalloc buf0 8
launch probe_kernel 1x1 1x1 buf0
cudaMemcpy buf0 -> host 8
cudaFree buf0'
for setting in '0:' '1:1' '1:+1' '1: 1' '0:0'; do
  index=${setting%%:*} text=${setting#*:}
  KEP_CUDA_DEVICE=$text STANDIN_DEVICES=2 ok "KEP_CUDA_DEVICE='$text'" '{"operation":"cuda.probe"}' "$(probe_reply "$index")"
  trace_is "KEP_CUDA_DEVICE='$text' sets device $index" "cudaSetDevice $index*"
done
KEP_CUDA_DEVICE=1 STANDIN_DEVICES=2 ok 'sum on device 1' '{"operation":"cuda.sum","values":[1]}' 1
trace_is 'sum sets device 1' 'cudaSetDevice 1*'
ok 'alpha of the request, not of a nested object' '{"operation":"cuda.axpy","meta":{"alpha":100},"alpha":3,"x":[1],"y":[0]}' '[3]'
ok 'a subnormal is summed' '{"operation":"cuda.sum","values":[4.9406564584124654e-324]}' 4.9406564584124654e-324
for setting in 1x -1 2 ' ' + 99999999999999999999; do
  KEP_CUDA_DEVICE=$setting STANDIN_DEVICES=2 fails "KEP_CUDA_DEVICE='$setting'" '{"operation":"cuda.probe"}' \
    'KEP_CUDA_DEVICE does not select an available device'
done
STANDIN_DEVICES=0 fails 'probe with no device' '{"operation":"cuda.probe"}' 'no CUDA device is available'
STANDIN_DEVICES=0 fails 'sum with no device' '{"operation":"cuda.sum","values":[1]}' 'no CUDA device is available'

# Device listing.
STANDIN_DEVICES=2 STANDIN_NAME=$'Q"\\\x01' ok 'two devices, name escaped' '{"operation":"cuda.devices"}' \
  "[$(device_entry 0 'Q\"\\\u0001'),$(device_entry 1 'Q\"\\\u0001')]"
trace_is 'listing selects no device and runs nothing' ''
STANDIN_NAME=$'Q"\x01' ok 'probe escapes the name' '{"operation":"cuda.probe"}' \
  "$(probe_reply 0 | sed 's/Stand-in GPU/Q\\"\\u0001/')"
STANDIN_DEVICES=0 ok 'no devices' '{"operation":"cuda.devices"}' '[]'

# Every failure label, and every buffer freed on the way out.
declare -A request=(
  [probe]='{"operation":"cuda.probe"}'
  [devices]='{"operation":"cuda.devices"}'
  [sum]='{"operation":"cuda.sum","values":[1,2,3]}'
  [sum513]="{\"operation\":\"cuda.sum\",\"values\":[$(seq -s, 513)]}"
  [dot]='{"operation":"cuda.dot","left":[1],"right":[2]}'
  [axpy]='{"operation":"cuda.axpy","alpha":2,"x":[1],"y":[2]}'
  [matmul]="$(mm 1 1 1 '[1]' '[2]')"
)
while IFS='|' read -r operation failure message; do
  STANDIN_DEVICES=2 STANDIN_FAIL=$failure fails "$operation with $failure failing" "${request[$operation]}" "$message"
done <<EOF
probe|cudaGetDeviceCount|cudaGetDeviceCount: stand-in failure
probe|cudaSetDevice|cudaSetDevice: stand-in failure
probe|cudaMalloc|cudaMalloc: stand-in failure
probe|__cudaLaunchKernel|probe kernel launch: stand-in failure
probe|cudaMemcpy|probe cudaMemcpy device-to-host: stand-in failure
probe|probe_kernel|CUDA probe kernel returned an invalid device value
probe|cudaGetDeviceProperties|cudaGetDeviceProperties: stand-in failure
probe|cudaRuntimeGetVersion|cudaRuntimeGetVersion: stand-in failure
probe|cudaDriverGetVersion|cudaDriverGetVersion: stand-in failure
devices|cudaGetDeviceCount|cudaGetDeviceCount: stand-in failure
devices|cudaRuntimeGetVersion|cudaRuntimeGetVersion: stand-in failure
devices|cudaDriverGetVersion|cudaDriverGetVersion: stand-in failure
devices|cudaGetDeviceProperties#2|cudaGetDeviceProperties: stand-in failure
sum|cudaMalloc#3|cudaMalloc: stand-in failure
sum|cudaMemcpy#1|reduction cudaMemcpy left host-to-device: stand-in failure
sum|__cudaLaunchKernel|reduction kernel launch: stand-in failure
sum|cudaMemcpy#2|reduction cudaMemcpy device-to-host: stand-in failure
sum513|__cudaLaunchKernel#2|recursive reduction kernel launch: stand-in failure
dot|cudaMemcpy#2|dot cudaMemcpy right host-to-device: stand-in failure
dot|__cudaLaunchKernel|reduction kernel launch: stand-in failure
axpy|cudaMemcpy#1|axpy cudaMemcpy x host-to-device: stand-in failure
axpy|cudaMemcpy#2|axpy cudaMemcpy y host-to-device: stand-in failure
axpy|__cudaLaunchKernel|axpy kernel launch: stand-in failure
axpy|cudaMemcpy#3|axpy cudaMemcpy device-to-host: stand-in failure
matmul|cudaMalloc#2|cudaMalloc: stand-in failure
matmul|cudaMemcpy#1|matmul cudaMemcpy left host-to-device: stand-in failure
matmul|cudaMemcpy#2|matmul cudaMemcpy right host-to-device: stand-in failure
matmul|__cudaLaunchKernel|matmul kernel launch: stand-in failure
matmul|cudaMemcpy#3|matmul cudaMemcpy device-to-host: stand-in failure
EOF
STANDIN_FAIL=cudaMemcpy#2 bin_fails 'binary failure' '1' 'reduction cudaMemcpy device-to-host: stand-in failure' sum 1

# Results.
ok 'sum' '{"operation":"cuda.sum","values":[1,2,3.5]}' 6.5
ok 'dot' '{"operation":"cuda.dot","left":[1,2,3.5],"right":[1,2,2]}' 12
ok 'axpy' '{"operation":"cuda.axpy","alpha":2,"x":[1,2,-0.0],"y":[0.5,0.25,-0.0]}' '[2.5,4.25,-0]'
ok 'matmul' "$(mm 2 2 2 '[1,2,3,4]' '[5,6,7,8]')" '[19,22,43,50]'
ok 'number text' '{"operation":"cuda.axpy","alpha":1,"x":[0,0,0,0],"y":[0.1,1e21,1e-5,123456789012345678]}' \
  '[0.10000000000000001,1e+21,1.0000000000000001e-05,1.2345678901234568e+17]'
fails 'sum overflows' '{"operation":"cuda.sum","values":[1e308,1e308]}' 'CUDA result is not a finite Float'
fails 'axpy overflows' '{"operation":"cuda.axpy","alpha":10,"x":[1,1e308],"y":[0,0]}' \
  'CUDA result contains a non-finite Float'
bin_ok 'binary results are not checked' '1e308, 1e308' Inf sum 2
bin_ok 'binary axpy' '1, 2, 10, 20' '12 24' axpy 2 2
bin_ok 'binary dot' '1, 2, 3, 4' 11 dot 2

# The launches and copies behind the results.
bin_ok 'sum of 512 * 512 + 1' '(1) x 262145' 262145 sum 262145
trace_is 'three passes alternate P1, P2, P1' 'cudaSetDevice 0
cudaMalloc buf0 2097160
cudaMemcpy host -> buf0 2097160
cudaMalloc buf1 4104
cudaMalloc buf2 4104
launch reduce_sum_kernel 513x1 256x1 buf0 buf1 262145
launch reduce_sum_kernel 2x1 256x1 buf1 buf2 513
launch reduce_sum_kernel 1x1 256x1 buf2 buf1 2
cudaMemcpy buf1 -> host 8
cudaFree buf2
cudaFree buf1
cudaFree buf0'
bin_ok 'dot of 513' '(1) x 513, (2) x 513' 1026 dot 513
trace_is 'dot passes' 'cudaSetDevice 0
cudaMalloc buf0 4104
cudaMemcpy host -> buf0 4104
cudaMalloc buf1 4104
cudaMemcpy host -> buf1 4104
cudaMalloc buf2 16
cudaMalloc buf3 16
launch reduce_dot_kernel 2x1 256x1 buf0 buf1 buf2 513
launch reduce_sum_kernel 1x1 256x1 buf2 buf3 2
cudaMemcpy buf3 -> host 8
cudaFree buf3
cudaFree buf2
cudaFree buf1
cudaFree buf0'
ok 'axpy of 257' "{\"operation\":\"cuda.axpy\",\"alpha\":1,\"x\":[$(seq -s, 257)],\"y\":[$(seq -s, 257)]}" \
  "[$(seq -s, 2 2 514)]"
trace_is 'axpy launch' 'cudaSetDevice 0
cudaMalloc buf0 2056
cudaMalloc buf1 2056
cudaMemcpy host -> buf0 2056
cudaMemcpy host -> buf1 2056
launch axpy_kernel 2x1 256x1 1 buf0 buf1 257
cudaMemcpy buf1 -> host 2056
cudaFree buf1
cudaFree buf0'
ok 'matmul 17x17x1' "$(mm 17 17 1 "[$(yes 1 | head -289 | paste -sd,)]" "[$(seq -s, 17)]")" \
  "[$(yes 153 | head -17 | paste -sd,)]"
trace_is 'matmul grid' 'cudaSetDevice 0
cudaMalloc buf0 2312
cudaMalloc buf1 136
cudaMalloc buf2 136
cudaMemcpy host -> buf0 2312
cudaMemcpy host -> buf1 136
launch matmul_kernel 1x2 16x16 buf0 buf1 buf2 17 17 1
cudaMemcpy buf2 -> host 136
cudaFree buf2
cudaFree buf1
cudaFree buf0'
rows=1048577
bin_ok 'matmul taller than one grid' "1 .. $rows, 2" \
  "$(seq 2 2 $((2 * rows)) | tr '\n' ' ' | sed 's/ $//')" matmul "$rows" 1 1
trace_is 'matmul runs in bands of 1048560 rows' "cudaSetDevice 0
cudaMalloc buf0 8388616
cudaMalloc buf1 8
cudaMalloc buf2 8388616
cudaMemcpy host -> buf0 8388616
cudaMemcpy host -> buf1 8
launch matmul_kernel 1x65535 16x16 buf0 buf1 buf2 1048560 1 1
launch matmul_kernel 1x2 16x16 buf0+8388480 buf1 buf2+8388480 17 1 1
cudaMemcpy buf2 -> host 8388616
cudaFree buf2
cudaFree buf1
cudaFree buf0"
fails 'malformed request touches no device' "$(mm 1 1 1 '[1]' '[2')" 'expected comma or closing bracket in Array'
trace_is 'no device call before the request is read' ''
echo "stand-in: $passed passed, $failed failed"
total_passed=$((total_passed + passed))
total_failed=$((total_failed + failed))

# --------------------------------------------------------------- kernels
kernels=$("$cuda/build/kernel_arithmetic_test")
kernels_status=$?
echo "$kernels"
read -r kernels_passed kernels_failed < <(
  sed -n 's/^kernel arithmetic: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' <<< "$kernels")
total_passed=$((total_passed + ${kernels_passed:-0}))
total_failed=$((total_failed + ${kernels_failed:-0}))
# A crash reports no count of its own.
[ "$kernels_status" = 0 ] || [ "${kernels_failed:-0}" != 0 ] || total_failed=$((total_failed + 1))

echo "cuda: $total_passed passed, $total_failed failed"
[ "$total_failed" = 0 ]
