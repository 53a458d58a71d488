#!/usr/bin/env bash
# A publish (and an image -o) cut off by a file-size limit, standing in for a
# full disk: the tool ends with exit code 4, the live release stays byte for
# byte what it was and passes verify, and no temporary file is left.
# Usage: size-limit.sh RUVO_PACK
set -u
PACK=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL $*"; exit 1; }

head -c 3000 /dev/urandom >a1.bin
head -c 900 /dev/urandom >a2.bin
head -c 1000 /dev/urandom >b1.bin
head -c 65536 /dev/urandom >b2.bin
printf 'model M01A\nimage T0M21F 0 a1.bin base\nimage V0MA01 64 a2.bin second\n' >a.txt
printf 'model M01A\nimage T0M22F 0 b1.bin base\nimage V0MA02 64 b2.bin second\n' >b.txt
"$PACK" publish a.txt www >/dev/null || fail "the first publish"

snapshot() { (cd www && readlink BRELM/Door && find -L BRELM releases -type f -print0 | sort -z | xargs -0 sha256sum); }
snapshot >before.txt

# 16 KiB: the small image and the catalogue fit, the large image does not.
(ulimit -f 16 && exec "$PACK" publish b.txt www) >out.txt 2>err.txt
code=$?
[ "$code" -eq 4 ] || fail "publish under the limit: exit $code, not 4: $(cat err.txt)"
grep -q 'File too large' err.txt || fail "the message does not say why: $(cat err.txt)"
snapshot >after.txt
diff before.txt after.txt || fail "the server folder changed"
"$PACK" verify catalogue M01A www/BRELM/Door/M01A.Bin >/dev/null || fail "verify refuses the live catalogue"
[ -z "$(find www -name '.~ruvo-*')" ] || fail "temporary files left: $(find www -name '.~ruvo-*')"

# image -o over an existing package.
"$PACK" image --id M22F --first-block 0 -o pkg b1.bin >/dev/null || fail "image"
cp pkg pkg.before
(ulimit -f 16 && exec "$PACK" image --id M22F --first-block 0 -o pkg b2.bin) >out.txt 2>err.txt
code=$?
[ "$code" -eq 4 ] || fail "image -o under the limit: exit $code, not 4: $(cat err.txt)"
cmp -s pkg pkg.before || fail "image -o changed the existing package"
[ -z "$(find . -maxdepth 1 -name '.~ruvo-*')" ] || fail "image -o left a temporary file"

# Without the limit the same publish goes through.
"$PACK" publish b.txt www >/dev/null || fail "the publish after the limit"
"$PACK" verify catalogue M01A www/BRELM/Door/M01A.Bin >/dev/null || fail "verify after the publish"
echo "size limit: live release unchanged, no temporary files"
