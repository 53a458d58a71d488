#!/usr/bin/env bash
# Two ./dev.sh commands started at once from one checkout: their set-ups and
# builds take turns (never interleaved), the one that waits says so, and
# their runs then go on side by side. Also: a build that fails passes its
# status on and lets the other go on, and a process the set-up leaves
# running (as a package's service would) does not keep the lock.
#
# dev.sh runs in a copy of the checkout's top whose package install, cmake,
# demo and test run are stubs that log what they do.
#   dev_lock_test.sh SOURCE_DIR
set -uo pipefail
SOURCE=$(cd "${1:?source folder}" && pwd)
WORK=$(mktemp -d /tmp/ruvo-dev-lock.XXXXXX)
stop_services() {
  local file
  for file in "$LOG".service.*; do
    [ -f "$file" ] && kill "$(cat "$file")" 2>/dev/null
  done
}
cleanup() {
  stop_services
  rm -rf "$WORK"
}
trap cleanup EXIT

TOP=$WORK/checkout
mkdir -p "$TOP/scripts" "$WORK/bin"
cp "$SOURCE/dev.sh" "$TOP/"
export LOG=$WORK/log
# Every cmake call: one line "<command's tag> <arguments>", and a check that
# no other call runs at the same moment.
cat >"$WORK/bin/cmake" <<'STUB'
#!/usr/bin/env bash
mkdir "$LOG.busy" 2>/dev/null || echo "$TAG OVERLAP" >>"$LOG"
echo "$TAG cmake $*" >>"$LOG"
[ "${FAIL_TAG:-}" = "$TAG" ] && [ "$1" = --build ] && { rmdir "$LOG.busy"; exit 3; }
sleep 0.05
rmdir "$LOG.busy" 2>/dev/null
exit 0
STUB
# With SERVICE=1 the set-up leaves a process running, as a package's
# service would.
cat >"$TOP/scripts/install-packages.sh" <<'STUB'
#!/usr/bin/env bash
if [ "${SERVICE:-}" = 1 ]; then
  sleep 60 >/dev/null 2>&1 &
  echo $! >"$LOG.service.$TAG"
fi
exit 0
STUB
# A run: logs itself and waits (bounded) until the other command's run has
# started too (OTHER: its tag, "none" when it has no run). Runs held back
# by the lock never meet.
cat >"$TOP/scripts/demo.sh" <<'STUB'
#!/usr/bin/env bash
echo "$TAG run" >>"$LOG"
touch "$LOG.run.$TAG"
[ "$OTHER" = none ] && exit 0
for _ in $(seq 100); do
  [ -f "$LOG.run.$OTHER" ] && { echo "$TAG met $OTHER" >>"$LOG"; exit 0; }
  sleep 0.1
done
echo "$TAG alone" >>"$LOG"
STUB
cp "$TOP/scripts/demo.sh" "$TOP/scripts/run-tests.sh"
# The packages are built under the lock too: one cmake call stands for them.
printf '#!/usr/bin/env bash\nexec cmake package-build\n' >"$TOP/scripts/package.sh"
chmod +x "$WORK/bin/cmake" "$TOP/scripts/"*.sh
export PATH=$WORK/bin:$PATH

failures=0
fail() { echo "FAIL $1"; sed 's/^/     /' "$LOG"; failures=$((failures + 1)); }

# COMMAND-A COMMAND-B [ENV...]: both at once, tagged a and b; their
# statuses in $status_a, $status_b.
both() {
  local a=$1 b=$2 other_a=b other_b=a
  shift 2
  [ "$b" = build ] && other_a=none
  [ "$a" = build ] && other_b=none
  rm -rf "$LOG" "$LOG".* "$TOP/build"
  env TAG=a OTHER=$other_a "$@" "$TOP/dev.sh" "$a" >"$WORK/a.out" 2>"$WORK/a.err" &
  local pid_a=$!
  env TAG=b OTHER=$other_b "$@" "$TOP/dev.sh" "$b" >"$WORK/b.out" 2>"$WORK/b.err" &
  local pid_b=$!
  wait "$pid_a"
  status_a=$?
  wait "$pid_b"
  status_b=$?
}
# The cmake calls of the two commands, in order: all of one, then the other.
took_turns() {  # CASE
  local order
  order=$(awk '$2 == "cmake" { print $1 }' "$LOG" | uniq | tr -d '\n')
  if grep -q OVERLAP "$LOG"; then fail "$1: two cmake calls at once"
  elif [ "$order" != ab ] && [ "$order" != ba ]; then fail "$1: builds interleaved ($order)"
  else echo "ok   $1: the builds took turns"; fi
}
said_it_waits() {  # CASE
  if cat "$WORK/a.err" "$WORK/b.err" | grep -q 'waiting for it'; then echo "ok   $1: the second one said it waits"
  else fail "$1: no word of waiting on stderr"; fi
}
runs_met() {  # CASE
  if grep -q '^a met b$' "$LOG" && grep -q '^b met a$' "$LOG"; then echo "ok   $1: the runs went on side by side"
  else fail "$1: the runs did not overlap"; fi
}

for pair in "demo demo" "demo test" "test build"; do
  read -r a b <<<"$pair"
  both "$a" "$b"
  name="$a + $b"
  if [ "$status_a" -eq 0 ] && [ "$status_b" -eq 0 ]; then echo "ok   $name: both passed"
  else fail "$name: statuses $status_a and $status_b"; cat "$WORK/a.err" "$WORK/b.err"; fi
  took_turns "$name"
  said_it_waits "$name"
  # test runs with the sanitize preset built under the same turn.
  if [ "$a" = test ] || [ "$b" = test ]; then
    if grep -q '^[ab] cmake --build --preset sanitize' "$LOG"; then echo "ok   $name: sanitize built in its turn"
    else fail "$name: sanitize not built"; fi
  fi
  [ "$b" = build ] || runs_met "$name"
done

# One build fails: its command fails with it, the other builds and runs.
both demo demo FAIL_TAG=a OTHER=none
if [ "$status_a" -eq 3 ] && [ "$status_b" -eq 0 ] && grep -q '^b run$' "$LOG" && ! grep -q '^a run$' "$LOG"; then
  echo "ok   a failed build: its status passed on, the other command went on"
else fail "a failed build: statuses $status_a and $status_b"; fi

# Each set-up leaves a process running; the second command must not wait
# for the first's, or the first's run would wait alone.
both demo demo SERVICE=1
runs_met "a process the set-up leaves running"
stop_services

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
