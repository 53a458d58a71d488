#!/bin/bash
# check-man-render.sh NATIVE_BUILD_DIR
#
# The man pages as they ship (build folder, packaging/man/*.1.gz) render
# without a warning or an error from man and groff, are not older than
# their scdoc sources, and are compressed without a name or a time stamp
# (gzip -n), so that rebuilding the package gives the same bytes.
set -u -o pipefail

BUILD=$1
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
failures=0

Fail()
{
    echo "$1"
    failures=$((failures + 1))
}

for tool in ruvo-flash ruvo-pack; do
    page=$BUILD/packaging/man/$tool.1.gz
    source=$SOURCE/packaging/man/$tool.1.scd
    if [[ ! -f $page ]]; then
        Fail "$page is missing: the build needs add_subdirectory(packaging) and the ruvo_man_pages target built"
        continue
    fi
    [[ $source -nt $page ]] && Fail "$page is older than $source: rebuild ruvo_man_pages"

    # Bytes 3 to 7 of a gzip header: the flags (a stored name sets 0x08) and
    # the time stamp; gzip -n leaves all of them 0.
    header=$(od -An -tx1 -j3 -N5 "$page" | tr -d ' \n')
    [[ $header == 0000000000 ]] || Fail "$page: gzip header flags and time stamp are $header, not 0 (gzip -9n)"

    warnings=$(MANWIDTH=80 man -l --warnings=w "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || Fail "$tool.1: man -l reports:"$'\n'"$warnings"
    warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
    [[ -z $warnings ]] || Fail "$tool.1: groff -man -ww reports:"$'\n'"$warnings"

    # The rendered page carries its name and sections, not an empty shell.
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || Fail "$tool.1: no section $section in the rendered page"
    done
    grep -q "^       $tool - " <<<"$text" || Fail "$tool.1: its NAME line does not name $tool"
done

if ((failures > 0)); then
    exit 1
fi
echo "man pages render cleanly: ruvo-flash.1.gz, ruvo-pack.1.gz"
