#!/usr/bin/env bash
# Every file input of every ruvo-pack command, given a folder, a FIFO, an
# empty file, a missing file and one past every cap: each must end with exit
# code 4 and a message naming the file, at once (a FIFO never blocks), and
# never with a signal. Usage: inputs.sh RUVO_PACK
set -u
PACK=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Good inputs, so that only the input under test is at fault.
head -c 3000 /dev/urandom >fw.bin
"$PACK" image --id M21F --first-block 0 -o T0M21F fw.bin >/dev/null || exit 1
"$PACK" catalogue --model M01A -o M01A.Bin --record T0M21F T0M21F base >/dev/null || exit 1
printf 'model M01A\nimage T0M21F 0 fw.bin base\n' >manifest.txt
mkdir -p www

mkdir folder
mkfifo fifo
: >empty
head -c $((3 * 1024 * 1024)) /dev/zero >large

# Each row: a command line with @ where the input under test goes.
rows=(
  "image --id M21F --first-block 0 -o out.bin @"
  "catalogue --model M01A -o out.Bin --record T0M21F @ base"
  "publish @ www"
  "publish firmware.txt www"
  "verify catalogue M01A @"
  "verify image M21F @"
  "inspect @"
  "inspect --id M21F @"
  "releases @"
  "rollback @"
  "verify-release www M01A --key @"
  "publish manifest.txt signed --sign @ --expires 30"
  "refresh www --sign @ --expires 30"
  "rollback www --sign @ --no-expiry"
  "publish manifest.txt www --key @"
  "rollback www --key @"
)
failures=0 checked=0
for row in "${rows[@]}"; do
  for kind in folder fifo empty missing large; do
    input=$work/$kind
    [ "$row" = "releases @" ] || [ "$row" = "rollback @" ] && [ "$kind" = folder ] && continue
    if [ "$row" = "publish firmware.txt www" ]; then
      # The manifest is fine; the firmware it names is the input under test.
      printf 'model M01A\nimage T0M21F 0 %s base\n' "$input" >firmware.txt
    fi
    read -r -a args <<<"${row//@/$input}"
    timeout 10 "$PACK" "${args[@]}" >out.txt 2>err.txt </dev/null
    code=$?
    checked=$((checked + 1))
    problem=
    if [ "$code" -eq 124 ]; then
      problem="hung"
    elif [ "$code" -ge 128 ]; then
      problem="died of signal $((code - 128))"
    elif [ "$code" -ne 4 ]; then
      problem="exit code $code, not 4"
    elif ! grep -qF "\"$input\"" err.txt; then
      problem="the message does not name the file"
    elif ! grep -q '^ruvo-pack: ' err.txt; then
      problem="no ruvo-pack: message"
    fi
    if [ -n "$problem" ]; then
      echo "FAIL ruvo-pack ${args[*]} ($kind): $problem"
      sed 's/^/    /' err.txt
      failures=$((failures + 1))
    fi
  done
done
# An output that is a folder is refused the same way, and the folder stays.
"$PACK" image --id M21F --first-block 0 -o folder fw.bin >/dev/null 2>err.txt
code=$?
checked=$((checked + 1))
if [ "$code" -ne 4 ] || ! [ -d folder ] || ! grep -qF '"folder"' err.txt; then
  echo "FAIL image -o folder: exit $code"; cat err.txt; failures=$((failures + 1))
fi
if [ -n "$(find . -maxdepth 1 -name '.~ruvo-*')" ]; then
  echo "FAIL temporary files left:"; ls -A; failures=$((failures + 1))
fi
echo "$checked cases, $failures failed"
[ "$failures" -eq 0 ]
