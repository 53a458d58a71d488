#!/bin/bash
# check-options-drift.sh NATIVE_BUILD_DIR
#
# check-options.sh must fail, naming the option and the place, on each kind
# of drift it exists for. Each case spoils one file of a copy of the sources
# and runs the check against the copy; the real tree is never touched.
set -u -o pipefail

BUILD=$1
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
CHECK=$SOURCE/tests/packaging/check-options.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

failures=0

# Spoil FILE SED_SCRIPT EXPECTED: spoil FILE of a fresh copy with SED_SCRIPT;
# the check must exit 1 with EXPECTED in its report.
Spoil()
{
    local file=$1 spoil=$2 expected=$3 report status
    rm -rf "$WORK/tree" && mkdir -p "$WORK/tree/docs"
    cp -r "$SOURCE/packaging" "$WORK/tree/" && cp "$SOURCE/docs/cli.md" "$WORK/tree/docs/"
    sed -e "$spoil" "$SOURCE/$file" >"$WORK/tree/$file"
    if cmp -s "$SOURCE/$file" "$WORK/tree/$file"; then
        echo "FAIL: '$spoil' no longer changes $file; update this case"
        failures=$((failures + 1))
        return
    fi
    report=$("$CHECK" "$BUILD" "$WORK/tree" 2>&1)
    status=$?
    if [[ $status -ne 1 ]] || ! grep -qF -- "$expected" <<<"$report"; then
        echo "FAIL: $file spoiled with '$spoil': exit $status, expected 1 and \"$expected\"; the report:"
        printf '%s\n' "$report" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $file: $expected"
    fi
}

# An option's entry gone from a man page, an option gone from a command's
# synopsis, an option the program does not have.
Spoil packaging/man/ruvo-flash.1.scd '/^\*--yes\*$/d' \
    "--yes is in ruvo-flash --help but missing from the OPTIONS entries"
Spoil packaging/man/ruvo-pack.1.scd 's/ \[\*--unsigned\*\]$//' \
    "ruvo-pack rollback: --unsigned is in its synopsis in ruvo-pack --help but missing from its SYNOPSIS line"
Spoil packaging/man/ruvo-pack.1.scd 's/^\*--replace\*$/*--force*/' \
    "--force is in packaging/man/ruvo-pack.1.scd but missing from ruvo-pack --help"
# A row gone from the options table of docs/cli.md.
# shellcheck disable=SC2016 # the backquotes are Markdown's
Spoil docs/cli.md '/^| `--trust-key` |/d' \
    "--trust-key is in ruvo-flash --help (but --help) but missing from its options table"
# Completions: an option not offered, one the program does not have, a
# command not offered.
Spoil packaging/completion/ruvo-pack.bash 's/publish) options="--keep /publish) options="/' \
    "ruvo-pack publish: --keep is in its synopsis in ruvo-pack --help but missing from the completion"
Spoil packaging/completion/ruvo-flash.bash 's/list) options="--device --json"/list) options="--device --json --force"/' \
    "--force is in packaging/completion/ruvo-flash.bash but missing from ruvo-flash --help"
Spoil packaging/completion/ruvo-pack.bash 's/ rollback verify inspect"/ rollback verify"/' \
    "inspect is in the commands of ruvo-pack --help but missing from the commands it offers"

exit $((failures > 0))
