#!/bin/sh
# A stand-in for the compiler under test: fake_compiler.sh SOURCE OUTPUT.
# Every call is appended to $FAKE_LOG; $FAKE_MODE chooses what it does:
#   fail   exits 1 and writes nothing
#   self   writes a copy of itself (a compiler at its fixed point)
#   other  writes a file that differs from itself
#   echo   writes a program that prints the expected output of SOURCE (for
#          the aggregated program, that of each loaded module) and exits 3,
#          or exits 0 when SOURCE has no expected output; when SOURCE is
#          $FAKE_CORRUPT the program prints one more byte, and when it is
#          $FAKE_PADDED a comment pads the program to $FAKE_SIZE bytes; the kep
#          command and the package programs are not faked: an OUTPUT that
#          the compiler already built for them is kept
echo "$1 $2" >> "$FAKE_LOG"
case $FAKE_MODE in
  fail) exit 1 ;;
  self) cat "$0" > "$2" ;;
  other) { cat "$0"; echo; } > "$2" ;;
  echo)
    case $1 in
      compiler/pure/cli.kep|tests/compiler/package_*) [ -e "$2" ] && exit 0 ;;
    esac
    base=${1%.kep}
    {
      echo '#!/bin/sh'
      status=0
      if [ "$1" = tests/full_conformance.kep ]; then
        sed -n 's/^load \(.*\)$/cat tests\/\1.out/p' "$1"; status=3
      elif [ -f "$base.out" ]; then
        echo "cat $base.out"; status=3
      fi
      [ "$1" = "${FAKE_CORRUPT:-}" ] && echo 'printf x'
      echo "exit $status"
    } > "$2"
    if [ "$1" = "${FAKE_PADDED:-}" ]; then
      printf '#%*s\n' $((FAKE_SIZE - $(wc -c < "$2") - 2)) '' >> "$2"
    fi
    chmod +x "$2" ;;
esac
