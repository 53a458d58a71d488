# Sourced by the ruvo-flash end-to-end scripts: one line per check, "ok" or
# "FAIL", and the count of failures for the script's exit status.
failures=0
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
expect_exit() {  # NAME WANTED GOT
  if [ "$2" = "$3" ]; then pass "$1 (exit $3)"; else fail "$1: exit $3, wanted $2"; fi
}
expect_grep() {  # NAME PATTERN FILE
  if grep -q -- "$2" "$3"; then pass "$1"; else fail "$1: no '$2' in $3"; sed 's/^/     /' "$3"; fi
}
