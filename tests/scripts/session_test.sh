#!/usr/bin/env bash
# Two runs at once each serve their own release on 127.0.0.1:80 and see only
# their own; what a run leaves running ends with it; a failing run keeps its
# folder and passes its status on. Needs the namespaces (root, as on CI):
# exits 77 (skipped) where they cannot be made.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SESSION=$ROOT/scripts/session.sh
work=$(mktemp -d "$ROOT/build/session-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

unshare --net --mount --pid --fork true 2>/dev/null || { echo "no namespaces here"; exit 77; }

# One run: serve a file naming the run, fetch it twice with a pause between,
# and leave a sleeper behind.
cat >"$work/one-run.sh" <<'RUN'
set -eu
name=$1 dir=$2
mkdir -p "$dir/www/BRELM"
echo "$name" >"$dir/www/BRELM/who"
"$ROOT/tools/update-server/nginx-serve.sh" start "$dir/www" "$dir/server" >/dev/null
curl -sf http://127.0.0.1/BRELM/who >"$dir/first"
sleep 1
curl -sf http://127.0.0.1/BRELM/who >"$dir/second"
bash -c 'sleep 300; :' "ruvo-sleeper-$dir" &
RUN

export ROOT
RUVO_RUN_DIR=$work/a "$SESSION" --no-wine bash "$work/one-run.sh" a "$work/a" &
first=$!
RUVO_RUN_DIR=$work/b "$SESSION" --no-wine bash "$work/one-run.sh" b "$work/b" &
second=$!
wait "$first"
wait "$second"

for run in a b; do
  for fetch in first second; do
    got=$(cat "$work/$run/$fetch")
    [ "$got" = "$run" ] || { echo "run $run fetched '$got' from port 80 ($fetch)"; exit 1; }
  done
  # Looked for by their command lines: ids inside a run are the run's own.
  if pgrep -f "nginx.*$work/$run/" >/dev/null || pgrep -f "ruvo-sleeper-$work/$run" >/dev/null; then
    echo "run $run left processes running:"
    pgrep -af "$work/$run/"
    exit 1
  fi
done

# A failing command: its status comes back and an unnamed run folder stays.
status=0
RUVO_RUN_DIR= "$SESSION" --no-wine bash -c 'exit 3' 2>"$work/fail.err" || status=$?
[ "$status" -eq 3 ] || { echo "status $status, not 3"; exit 1; }
kept=$(sed -n 's/^run folder kept: //p' "$work/fail.err")
[ -d "$kept" ] || { echo "the failed run's folder was not kept"; exit 1; }
rm -rf "$kept"
echo "two runs served their own port 80; nothing outlived them; a failure kept its folder"
