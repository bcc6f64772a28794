#!/usr/bin/env bash
# Tests the `kep` command (compiler/pure/cli.kep) and its package manager
# (compiler/pure/package.kep), compiled as the conformance suite builds them:
# help, version and usage errors; programs from standard input and from
# files with their exit statuses and module search; compile; the package
# manager's SHA-256 against python3's hashlib; install, update and the
# library list against the local registry server on a free port, every
# refusal checked for its status, its message and the module it must not
# leave behind; the client's limits against a registry that misbehaves. Run from anywhere; exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=bootstrap/kep0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
pass=0; fail=0
. tests/case_check.sh
# Where `kep` puts the executables it runs and removes.
export TMPDIR=$tmp/run
mkdir -p "$TMPDIR"

compile() {  # compile SOURCE OUTPUT
  "$kep0" compiler/pure/kepc_direct.kep "$1" "$2" > "$tmp/compile.out" 2>&1 \
    || { echo "FAIL compile $1:"; head -20 "$tmp/compile.out"; exit 1; }
}

kep=$tmp/kep
compile compiler/pure/cli.kep "$kep"
server=$tmp/package-server
compile tests/compiler/package_command_server.kep "$server"
for program in package_install_conformance package_update_config_conformance package_config_negative; do
  compile tests/compiler/$program.kep "$tmp/$program"
done

# check NAME STATUS STDOUT [STDERR]: compares $tmp/out, $tmp/err, $tmp/status.
check() {
  report "$1" "$(run_problems "$2" "$3" "${4:-}")"
}

runs() {  # runs COMMAND...: its results into $tmp/out, err, status
  runs_in . "$@"
}

# check_rows NAME RUN ROW...: each ROW is INPUT|STATUS|STDOUT|STDERR, STDOUT
# with printf escapes; RUN INPUT runs the case, checked as "NAME 'INPUT'".
check_rows() {
  local name=$1 run=$2 row input status out err
  shift 2
  for row in "$@"; do
    IFS='|' read -r input status out err <<< "$row"
    "$run" "$input"
    check "$name '$input'" "$status" "$(printf '%b' "$out")" "$err"
  done
}

runs_input() {  # runs_input TEXT COMMAND...
  local text=$1; shift
  printf '%b' "$text" | "$@" > "$tmp/out" 2> "$tmp/err"
  echo $? > "$tmp/status"
}

help_text=$(printf '%s\n' "Tuv Simple Lang (KEP) 0.6" "" "Usage:" "  kep [SOURCE [ARG...]]" \
  "  kep compile SOURCE OUTPUT" "  kep config ENTRY" "  kep install NAME" "  kep install --config FILE" \
  "  kep update NAME" "  kep server" "  kep version" "" "Options:" "  -h, --help     Show this help" \
  "  --version      Show version")

# The help is exactly these fifteen lines, each ended by a line feed.
runs "$kep" --help
cmp -s "$tmp/out" <(printf '%s\n' "$help_text") || report "help bytes" " stdout"
for args in "--help" "-h"; do
  runs "$kep" $args
  check "kep $args" 0 "$help_text"
done
# The version is the one cli.kep states.
version=$(sed -n 's/^VERSION = "\(.*\)"$/\1/p' compiler/pure/cli.kep)
for args in "version" "--version"; do
  runs "$kep" $args
  check "kep $args" 0 "$version"
done

# Wrong arguments: the help on standard output and status 2.
usage_table=(
  "--help extra" "-h -h" "version extra" "--version 1" "compile" "compile only.kep"
  "compile a.kep b c" "install" "install a b" "install --config" "install --config a b"
  "update" "update a b" "config" "config a b" "server extra" "--bogus" "-x file.kep"
)
for args in "${usage_table[@]}"; do
  runs "$kep" $args
  check "usage: kep $args" 2 "$help_text"
done

# Programs on standard input: INPUT|STATUS|STDOUT|STDERR. The program ends at
# a line that is exactly "exit" or at the end of input; "exit(7)" is code.
stdin_table=(
  'value = 6 * 7\nif value == 42:\n    print "stdin", value\nend\nexit\n|0|stdin 42|'
  'print "eof", 9\n|0|eof 9|'
  'load time\nprint time.time() > 1577836800.0\nexit\n|0|True|'
  'print "no line feed"|0|no line feed|'
  'exit(7)\nexit\n|7||'
  'print "before"\nexit\nprint "after"\n|0|before|'
  'print "exit"\nexit\n|0|exit|'
  'print "got", input("")\nexit\nhello there\n|0|got hello there|'
  '|0||'
  '\n\nprint "blank lines"\n|0|blank lines|'
  'print "x"\nexit\n|0|x|'
  'd = {}\nprint d["missing"]\n|1||KEP runtime error: KeyError: key not found'
)
stdin_program() { runs_input "$1" "$kep"; }
check_rows "stdin program" stdin_program "${stdin_table[@]}"
# A syntax error is reported against the name "<stdin>", status 1.
runs_input 'print (\n' "$kep"
problems=""
[ "$(cat "$tmp/status")" = 1 ] || problems=" status"
grep -q -- '--> <stdin>:' "$tmp/out" || problems="$problems stdout($(head -c 300 "$tmp/out"))"
report "stdin syntax error" "$problems"

# Module search from a program on standard input: the current directory,
# then its stdlib/, then the user's library below HOME. Run outside the
# tree, an installed kep (PREFIX/bin/kep) finds the library source below
# PREFIX/lib/kep.
mkdir -p "$tmp/prefix/bin" "$tmp/prefix/lib/kep/compiler/pure"
cp "$kep" "$tmp/prefix/bin/kep"
cp compiler/pure/dynamic_stdlib.kep "$tmp/prefix/lib/kep/compiler/pure/"
mkdir -p "$tmp/work/stdlib" "$tmp/home/.local/lib/kep/stdlib"
printf 'function where()\n    return "beside"\nend\n' > "$tmp/work/near.kep"
printf 'function where()\n    return "stdlib"\nend\n' > "$tmp/work/stdlib/lib_mod.kep"
printf 'function where()\n    return "home"\nend\n' > "$tmp/home/.local/lib/kep/stdlib/home_mod.kep"
printf 'load near\nload lib_mod\nload home_mod\nprint near.where(), lib_mod.where(), home_mod.where()\n' > "$tmp/modules.txt"
(cd "$tmp/work" && HOME="$tmp/home" "$tmp/prefix/bin/kep" < "$tmp/modules.txt" > "$tmp/out" 2> "$tmp/err"; echo $? > "$tmp/status")
check "stdin module search" 0 "beside stdlib home"

# A program file: its arguments, its exit status, its own modules beside it.
mkdir -p "$tmp/prog"
printf 'load near_prog\nprint arg_count(), arg(1), arg(2), near_prog.value()\nexit(arg_count())\n' > "$tmp/prog/main.kep"
printf 'function value()\n    return 5\nend\n' > "$tmp/prog/near_prog.kep"
runs "$kep" "$tmp/prog/main.kep" one "two words"
check "kep SOURCE ARG..." 3 "3 one two words 5"
runs "$kep" "$tmp/prog/missing.kep"
check "kep missing SOURCE" 1 "" "KEP runtime error: FileError: cannot open file"

# A running program's image is in no directory: TMPDIR stays empty while
# it runs and after Ctrl-C (SIGINT to the process group) ends it and kep.
printf 'print "started"\n__kep_sleep(30.0)\n' > "$tmp/prog/sleeper.kep"
setsid "$kep" "$tmp/prog/sleeper.kep" > "$tmp/out" 2>&1 & sleeper=$!
for _ in $(seq 100); do grep -q started "$tmp/out" && break; sleep 0.1; done
problems=""
grep -q started "$tmp/out" || problems=" not-started"
[ -z "$(ls -A "$TMPDIR")" ] || problems="$problems running($(ls -A "$TMPDIR" | head -3))"
kill -INT -- "-$sleeper"
wait "$sleeper"
[ -z "$(ls -A "$TMPDIR")" ] || problems="$problems interrupted($(ls -A "$TMPDIR" | head -3))"
report "kep SOURCE leaves no image behind" "$problems"

# compile writes an executable and prints nothing.
runs "$kep" compile "$tmp/prog/main.kep" "$tmp/prog/main"
check "kep compile" 0 ""
runs "$tmp/prog/main" a
check "compiled program" 2 "2 a None 5"
# An OUTPUT whose program is still running is replaced.
cp /bin/sleep "$tmp/prog/busy"
"$tmp/prog/busy" 30 & busy=$!
runs "$kep" compile "$tmp/prog/main.kep" "$tmp/prog/busy"
check "kep compile over a running OUTPUT" 0 ""
kill "$busy"
runs "$tmp/prog/busy" a
check "the program compiled over a running one" 2 "2 a None 5"
# A write cut short by the file-size limit leaves OUTPUT as it was, and no
# temporary file beside it.
mkdir "$tmp/limited"; cp /bin/true "$tmp/limited/old"
runs bash -c 'ulimit -f 20; exec "$0" compile "$1" "$2"' "$kep" "$tmp/prog/main.kep" "$tmp/limited/old"
check "kep compile over the file-size limit" 1 "" "KEP runtime error: FileError: cannot write file"
cmp -s "$tmp/limited/old" /bin/true && [ "$(ls "$tmp/limited")" = old ]
report "kep compile over the file-size limit leaves OUTPUT" "$([ $? = 0 ] || ls "$tmp/limited" | tr '\n' ' ')"
# compile never writes over a file it read (run as installed, so that the
# library is found from the program's directory): OUTPUT|the input named.
ln -s main.kep "$tmp/prog/main-link"
compile_same_table=(
  "main.kep|main.kep" "$tmp/prog/main.kep|main.kep" "main-link|main.kep" "near_prog.kep|./near_prog.kep"
)
for row in "${compile_same_table[@]}"; do
  before=$(cat "$tmp/prog/main.kep" "$tmp/prog/near_prog.kep")
  runs_in "$tmp/prog" "$tmp/prefix/bin/kep" compile main.kep "${row%%|*}"
  check "kep compile main.kep ${row%%|*}" 1 "" "KEP runtime error: FileError: OUTPUT is the input file ${row#*|}"
  [ "$(cat "$tmp/prog/main.kep" "$tmp/prog/near_prog.kep")" = "$before" ] || report "kep compile main.kep ${row%%|*} leaves its inputs" " changed"
done

runs "$kep" server
check "kep server" 1 "" "KEP runtime error: CommandError: kep server is not available in this build"

# config: the evaluator of kep-configure (beside kep) compiled and run, and
# removed; a refused configuration gives kep-configure's report and status.
compile stdlib/configure.kep "$tmp/prefix/bin/kep-configure"
for entry in defaults lazy time_impure type_error; do
  runs "$tmp/prefix/bin/kep" config tests/config/$entry.kep
  status=0; [ -f tests/config/$entry.status ] && status=$(cat tests/config/$entry.status)
  check "kep config $entry" "$status" "$(cat tests/config/$entry.out)" "$(cat tests/config/$entry.err 2>/dev/null)"
done
left=$(ls -A tests/config | grep '^\.kep-config-')
[ -z "$left" ] && report "config evaluators removed" "" || report "config evaluators removed" " $left"

# SHA-256 of the package manager against hashlib, under kep0 and compiled:
# empty, one block, the padding edges 55, 56 and 64, multi-block UTF-8 text,
# bytes that are no text at all, and 40 KB, hashed compiled in bounded
# memory.
mkdir -p "$tmp/sha"
python3 - "$tmp/sha" <<'EOF'
import os, random, sys
d = sys.argv[1]
random.seed(7)
cases = {"empty": b"", "abc": b"abc", "55": b"a" * 55, "56": b"b" * 56, "64": b"c" * 64,
         "utf8": ("h\u00e9llo w\u00f6rld \u20ac " * 90).encode(), "binary": bytes(random.randrange(256) for _ in range(1000)),
         "large": bytes(random.randrange(32, 127) for _ in range(40000))}
for name, data in cases.items():
    open(os.path.join(d, name), "wb").write(data)
EOF
files=("$tmp"/sha/*)
python3 -c 'import hashlib, sys; [print(hashlib.sha256(open(f, "rb").read()).hexdigest()) for f in sys.argv[1:]]' "${files[@]}" > "$tmp/sha.want"
"$kep0" tests/cli/sha256_digests.kep "${files[@]}" > "$tmp/sha.kep0" 2>&1
cmp -s "$tmp/sha.kep0" "$tmp/sha.want" && report "SHA-256 under kep0" "" || report "SHA-256 under kep0" " $(diff "$tmp/sha.want" "$tmp/sha.kep0" | head -4)"
compile tests/cli/sha256_digests.kep "$tmp/sha256_digests"
(ulimit -v 400000; "$tmp/sha256_digests" "${files[@]}") > "$tmp/sha.native" 2>&1
cmp -s "$tmp/sha.native" "$tmp/sha.want" && report "SHA-256 compiled" "" || report "SHA-256 compiled" " $(diff "$tmp/sha.want" "$tmp/sha.native" | head -4)"

# The package manager against the local registry on a free port.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
registry=http://127.0.0.1:$port/kep
bad_registry=http://127.0.0.1:$port/bad
home=$tmp/package-home
library=$home/.local/lib/kep/stdlib
module=$library/registry_probe.kep

# A fresh home: install makes the library directories itself.
runs "$tmp/package_install_conformance" registry_probe "$home" "$registry" "$server" "$kep"
check "package install" 0 "$(cat tests/compiler/package_install_conformance.out)"
cmp -s "$tmp/out" tests/compiler/package_install_conformance.out || report "package install output bytes" " stdout"
cmp -s "$module" <(printf '# A module the test registry serves.\nfunction describe()\n    return "registry_probe " + String(6 * 7)\nend\n') \
  && report "installed module text" "" || report "installed module text" " $(head -c 200 "$module")"

# Refusals: NAME|REGISTRY|MESSAGE. None may leave a module or a partial file;
# a refused reinstall keeps the module installed before.
cp "$module" "$tmp/installed-before"
refusal_table=(
  "registry_probe|$bad_registry|PackageError: digest mismatch for package registry_probe"
  "Bad/Name|$registry|PackageError: unsafe package name: Bad/Name"
  "..|$registry|PackageError: unsafe package name: .."
  "../escape|$registry|PackageError: unsafe package name: ../escape"
  "two words|$registry|PackageError: unsafe package name: two words"
  "|$registry|PackageError: unsafe package name: "
  "missing_probe|$registry|PackageError: registry answered 404 for missing_probe.kep"
  "registry_probe|http://127.0.0.1:$port|PackageError: registry answered 404 for registry_probe.kep"
  "registry_probe|ftp://127.0.0.1/kep|PackageError: unsupported registry URL: ftp://127.0.0.1/kep"
  "registry_probe|http://example.org/kep|PackageError: unsupported registry URL: http://example.org/kep"
)
for row in "${refusal_table[@]}"; do
  IFS='|' read -r name reg message <<< "$row"
  runs "$tmp/package_install_conformance" "$name" "$home" "$reg" "$server" "$kep"
  problems=""
  [ "$(cat "$tmp/status")" = 1 ] || problems=" status($(cat "$tmp/status"))"
  [ "$(cat "$tmp/err")" = "KEP runtime error: $message" ] || problems="$problems stderr($(cat "$tmp/err"))"
  [ -z "$(cat "$tmp/out")" ] || problems="$problems stdout($(cat "$tmp/out"))"
  cmp -s "$module" "$tmp/installed-before" || problems="$problems module-changed"
  [ "$(ls -A "$library")" = registry_probe.kep ] || problems="$problems left($(ls -A "$library"))"
  report "install refused: '$name' from $reg" "$problems"
done
rm -f "$module"
runs "$tmp/package_install_conformance" registry_probe "$home" "$bad_registry" "$server" "$kep"
[ -z "$(ls -A "$library")" ] && report "digest mismatch installs nothing" "" || report "digest mismatch installs nothing" " $(ls -A "$library")"

# No registry, no HOME, no server.
runs env -u KEP_REGISTRY HOME="$home" "$kep" install registry_probe
check "install without a registry" 1 "" "KEP runtime error: PackageError: no package registry: set KEP_REGISTRY to its URL"
runs env -u HOME KEP_REGISTRY="$registry" "$kep" install registry_probe
check "install without HOME" 1 "" "KEP runtime error: PackageError: HOME is not set"
silent_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
runs env HOME="$home" KEP_REGISTRY="http://127.0.0.1:$silent_port/kep" "$kep" install registry_probe
check "install with no server" 1 "" "KEP runtime error: PackageError: cannot connect to registry"

# A registry that misbehaves (tests/cli/hostile_registry.py): the client
# gives up with a PackageError, in bounded memory and within its time limit
# (SECONDS, given to the client's GET), rather than reading or waiting
# without end. PATH|SECONDS|STDERR
hostile_port_file=$tmp/hostile-port
python3 tests/cli/hostile_registry.py "$hostile_port_file" & hostile=$!
for i in $(seq 100); do [ -s "$hostile_port_file" ] && break; sleep 0.1; done
hostile_port=$(cat "$hostile_port_file")
compile tests/cli/registry_get.kep "$tmp/registry_get"
hostile_table=(
  "/head/x.kep|30|KEP runtime error: PackageError: registry response head is too large"
  "/endless/x.kep|30|KEP runtime error: PackageError: registry response is too large"
  "/silent/x.kep|1|KEP runtime error: PackageError: registry did not answer in time"
  "/drip/x.kep|1|KEP runtime error: PackageError: registry did not answer in time"
)
for row in "${hostile_table[@]}"; do
  IFS='|' read -r path seconds message <<< "$row"
  start=$(date +%s%N)
  runs bash -c 'ulimit -v 400000; exec "$@"' - "$tmp/registry_get" "$hostile_port" "$path" "$seconds"
  elapsed=$((($(date +%s%N) - start) / 1000000))
  problems=$(run_problems 1 "" "$message")
  [ "$elapsed" -lt 10000 ] || problems="$problems took ${elapsed} ms"
  report "registry reply $path" "$problems"
done
# A module of 1 MiB installs in well under a second on an idle machine; the
# bound leaves room for a busy one.
start=$(date +%s%N)
runs env HOME="$tmp/big-home" KEP_REGISTRY="http://127.0.0.1:$hostile_port/big" "$kep" install big_probe
elapsed=$((($(date +%s%N) - start) / 1000000))
problems=$(run_problems 0 "installed big_probe" "")
[ "$(stat -c %s "$tmp/big-home/.local/lib/kep/stdlib/big_probe.kep" 2>/dev/null)" = 1048569 ] || problems="$problems module-size"
[ "$elapsed" -lt 5000 ] || problems="$problems took ${elapsed} ms"
report "install of a 1 MiB module" "$problems"
kill "$hostile"

# The serving child keeps none of its caller's descriptors: not the lock
# its caller holds. The caller returns as the child starts closing them, so
# the lock is given a few seconds to become free.
lock_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
flock "$tmp/lock" "$server" "$lock_port"
flock -w 5 "$tmp/lock" true && report "server holds no caller's lock" "" || report "server holds no caller's lock" " held"

# A second server at the same port leaves the first serving.
runs "$server" "$port"
check "second server at the port" 1 "" "package server: cannot bind 127.0.0.1 port $port"
runs env HOME="$home" KEP_REGISTRY="$registry" "$kep" install registry_probe
check "first server still serves" 0 "installed registry_probe"

# Library lists, install --config and update.
list=$tmp/libraries.conf
printf '# libraries\nconfig_probe\nsecond_probe\n' > "$list"
runs "$tmp/package_update_config_conformance" "$home" "$registry" "$server" "$kep" "$list"
check "package update/config" 0 "$(printf '%s\n' "installed config_probe" "installed second_probe" "updated config_probe" "package update/config passed")" \
  "KEP runtime error: PackageError: package is not installed: never_installed"

# LIST TEXT|STATUS|STDOUT|STDERR: a list is refused whole, before any install.
list_table=(
  'duplicate\nduplicate\n|1||KEP runtime error: PackageError: duplicate library in list: duplicate'
  'bad name\n|1||KEP runtime error: PackageError: unsafe package name: bad name'
  'good\n../up\n|1||KEP runtime error: PackageError: unsafe package name: ../up'
  'a/b\n|1||KEP runtime error: PackageError: unsafe package name: a/b'
  '# only a comment\n\n|0||'
  '  spaced_name  \n# note\n\nother_1\n|0|spaced_name\nother_1|'
)
library_list() {
  printf '%b' "$1" > "$list"
  runs "$tmp/package_config_negative" "$list"
}
check_rows "library list" library_list "${list_table[@]}"
rm -rf "$home"
printf 'registry_probe\nbad name\n' > "$list"
runs env HOME="$home" KEP_REGISTRY="$registry" "$kep" install --config "$list"
check "install --config with a bad name installs nothing" 1 "" "KEP runtime error: PackageError: unsafe package name: bad name"
[ -e "$library/registry_probe.kep" ] && report "bad list installed a module" " registry_probe.kep"

[ -z "$(ls -A "$TMPDIR")" ] && report "temporary executables removed" "" || report "temporary executables removed" " $(ls -A "$TMPDIR" | head -3)"
echo "cli: $pass passed, $fail failed"
[ "$fail" = 0 ]
