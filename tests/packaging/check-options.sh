#!/bin/bash
# check-options.sh NATIVE_BUILD_DIR [SOURCE_DIR]
#
# The long options of ruvo-flash and ruvo-pack are written down in several
# places that must not drift from what the programs accept. --help is the
# reference; this checks against it:
#   - the man page source: every option it names, the options with an entry
#     under OPTIONS, and each command's SYNOPSIS line;
#   - docs/cli.md (ruvo-flash): its "Commands" section and its options table;
#   - the bash completion: the options it offers after each command (run
#     through bash-completion), and every option the script names at all.
# Each difference is printed with the option and where it is missing; the
# exit status is 1 when there is any.
set -u -o pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 NATIVE_BUILD_DIR [SOURCE_DIR]" >&2
    exit 2
fi
BUILD=$1
SOURCE=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
FLASH=$BUILD/cli/ruvo-flash
PACK=$BUILD/tools/ruvo-pack/ruvo-pack
BASH_COMPLETION=/usr/share/bash-completion/bash_completion

for file in "$FLASH" "$PACK"; do
    [[ -x $file ]] || { echo "missing $file: build ruvo-flash and ruvo-pack first" >&2; exit 2; }
done
[[ -r $BASH_COMPLETION ]] || { echo "missing $BASH_COMPLETION (Debian package bash-completion)" >&2; exit 2; }

failures=0

# Long options in standard input, one a line, sorted, each once.
LongOptions()
{
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}

# ReportMissing WHAT WHERE_A A WHERE_B B: each option of A that B lacks
# (A and B: options separated by blanks or new lines).
ReportMissing()
{
    local what=$1 where_a=$2 a=$3 where_b=$4 b=$5 option
    local -A in_b=() reported=()
    for option in $b; do in_b[$option]=1; done
    for option in $a; do
        [[ -n ${in_b[$option]:-} || -n ${reported[$option]:-} ]] && continue
        reported[$option]=1
        echo "$what: $option is in $where_a but missing from $where_b"
        failures=$((failures + 1))
    done
}

# SameOptions WHAT WHERE_A A WHERE_B B: both ways.
SameOptions()
{
    ReportMissing "$1" "$2" "$3" "$4" "$5"
    ReportMissing "$1" "$4" "$5" "$2" "$3"
}

# A section of a man page source: "# NAME" up to the next "# ".
ManSection()
{
    awk -v want="# $2" '/^# / { inside = ($0 == want); next } inside' "$1"
}

# Options with their own entry under OPTIONS: a line "*--name*...".
ManOptionEntries()
{
    ManSection "$1" OPTIONS | grep -oE '^\*--[a-z][a-z0-9-]*\*' | tr -d '*' | sort -u
}

# "COMMAND --option" lines from the SYNOPSIS lines "*TOOL COMMAND* ...".
ManSynopsisOptions()
{
    local tool=$2
    ManSection "$1" SYNOPSIS | while read -r line; do
        [[ $line =~ ^\*$tool\ ([a-z-]+)\* ]] || continue
        printf '%s\n' "$line" | LongOptions | sed "s/^/${BASH_REMATCH[1]} /"
    done
}

# The options of COMMAND in "COMMAND --option" lines.
OptionsOf()
{
    printf '%s\n' "$2" | awk -v command="$1" '$1 == command { print $2 }'
}

# CompleteLines SCRIPT FUNCTION: for each command line on standard input,
# ending in the word being completed (words split at blanks), the candidates
# the completion function offers, as "LINE<tab>CANDIDATE" lines. One bash
# for all lines: loading bash-completion is the slow part.
CompleteLines()
{
    bash -c '
        source "$1" && source "$2" || exit 1
        while IFS= read -r line; do
            read -ra COMP_WORDS <<<"$line"
            [[ $line == *" " ]] && COMP_WORDS+=("")
            COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
            "$3" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
            for candidate in "${COMPREPLY[@]}"; do printf "%s\t%s\n" "$line" "$candidate"; done
        done
    ' complete "$BASH_COMPLETION" "$1" "$2"
}

# Offered LINE COMPLETIONS: the candidates for LINE, sorted.
Offered()
{
    printf '%s\n' "$2" | awk -F '\t' -v line="$1" '$1 == line { print $2 }' | sort -u
}

# CheckCompletion TOOL FUNCTION HELP_OPTIONS COMMANDS COMMAND_OPTIONS EXACT
# The script names no option --help lacks; the tool's commands are offered;
# after each command the options offered are its synopsis options (and may
# be more of --help's when EXACT is no, as ruvo-flash's trust options are
# described in --help but not in its synopsis lines).
CheckCompletion()
{
    local tool=$1 function=$2 help=$3 commands=$4 command_options=$5 exact=$6
    local script=$SOURCE/packaging/completion/$tool.bash command offered wanted completions
    completions=$( (echo "$tool "; echo "$tool --"; for command in $commands; do echo "$tool $command --"; done) |
        CompleteLines "$script" "$function")
    ReportMissing "$tool completion" "${script#"$SOURCE"/}" "$(LongOptions <"$script")" "$tool --help" "$help"
    SameOptions "$tool completion" "the commands of $tool --help" "$commands" \
        "the commands it offers" "$(Offered "$tool " "$completions")"
    ReportMissing "$tool completion" "what it offers before a command" \
        "$(Offered "$tool --" "$completions" | LongOptions)" "$tool --help" "$help"
    for command in $commands; do
        offered=$(Offered "$tool $command --" "$completions" | LongOptions)
        wanted=$( (OptionsOf "$command" "$command_options"; echo --help) | sort -u)
        ReportMissing "$tool $command" "its synopsis in $tool --help" "$wanted" "the completion" "$offered"
        if [[ $exact == yes ]]; then
            ReportMissing "$tool $command" "the completion" "$offered" "its synopsis in $tool --help" "$wanted"
        else
            ReportMissing "$tool $command" "the completion" "$offered" "$tool --help" "$help"
        fi
    done
}

# CheckManPage TOOL HELP_OPTIONS COMMAND_OPTIONS
CheckManPage()
{
    local tool=$1 help=$2 command_options=$3
    local page=$SOURCE/packaging/man/$tool.1.scd
    local where=${page#"$SOURCE"/} man_synopsis command
    SameOptions "$tool man page" "$tool --help" "$help" "$where" "$(LongOptions <"$page")"
    SameOptions "$tool man page" "$tool --help" "$help" "the OPTIONS entries of $where" "$(ManOptionEntries "$page")"
    man_synopsis=$(ManSynopsisOptions "$page" "$tool")
    for command in $(printf '%s\n' "$command_options" | awk '{ print $1 }' | sort -u); do
        SameOptions "$tool $command" "its synopsis in $tool --help" "$(OptionsOf "$command" "$command_options")" \
            "its SYNOPSIS line in $where" "$(OptionsOf "$command" "$man_synopsis")"
    done
}

# A sanity bound: reading nothing from both sides would agree.
RequireOptions()
{
    local what=$1 options=$2 option
    shift 2
    for option in "$@"; do
        grep -qx -- "$option" <<<"$options" || { echo "$what: $option not found; is this the right program?"; exit 1; }
    done
}

# ---- ruvo-flash -------------------------------------------------------------
flash_help_text=$("$FLASH" --help) || { echo "ruvo-flash --help failed"; exit 1; }
flash_help=$(LongOptions <<<"$flash_help_text")
RequireOptions "ruvo-flash --help" "$flash_help" --help --version --device
# Synopsis lines: "ruvo-flash COMMAND ..." and their continuation lines "   [...".
flash_commands_options=$(awk '
    match($0, /ruvo-flash [a-z]+/) { command = substr($0, RSTART + 11, RLENGTH - 11); text[command] = $0; next }
    command != "" && /^ +\[/      { text[command] = text[command] " " $0; next }
                                  { command = "" }
    END { for (c in text) print c "\t" text[c] }' <<<"$flash_help_text" |
    while IFS=$'\t' read -r command text; do
        LongOptions <<<"$text" | sed "s/^/$command /"
    done)
flash_commands=$(awk '{ print $1 }' <<<"$flash_commands_options" | sort -u)
RequireOptions "ruvo-flash --help synopsis" "$flash_commands" list info update

CheckManPage ruvo-flash "$flash_help" "$flash_commands_options"

docs=$SOURCE/docs/cli.md
docs_commands=$(awk '/^## / { inside = ($0 == "## Commands"); next } inside' "$docs")
SameOptions "docs/cli.md" "ruvo-flash --help" "$flash_help" "its Commands section" "$(LongOptions <<<"$docs_commands")"
SameOptions "docs/cli.md" "ruvo-flash --help (but --help)" "$(grep -vx -- --help <<<"$flash_help")" \
    "its options table" "$(grep -oE '^\| `--[a-z][a-z0-9-]*' <<<"$docs_commands" | LongOptions)"

CheckCompletion ruvo-flash _ruvo_flash "$flash_help" "$flash_commands" "$flash_commands_options" no

# ---- ruvo-pack --------------------------------------------------------------
pack_help_text=$("$PACK" --help) || { echo "ruvo-pack --help failed"; exit 1; }
pack_help=$(LongOptions <<<"$pack_help_text")
RequireOptions "ruvo-pack --help" "$pack_help" --help --version --sign
# Commands are the lines "  NAME ..." of the usage; each has its own --help,
# whose first line after "usage:" is its synopsis.
pack_commands=$(grep -oE '^  [a-z][a-z-]*' <<<"$pack_help_text" | tr -d ' ' | sort -u)
RequireOptions "ruvo-pack --help commands" "$pack_commands" publish verify inspect
pack_commands_options=$(for command in $pack_commands; do
    "$PACK" "$command" --help | sed -n '/^usage:/{n;p;q}' | LongOptions | sed "s/^/$command /"
done)

CheckManPage ruvo-pack "$pack_help" "$pack_commands_options"
# A command whose synopsis has no option still needs its SYNOPSIS line.
for command in $pack_commands; do
    grep -q "^\*ruvo-pack $command\*" "$SOURCE/packaging/man/ruvo-pack.1.scd" ||
        { echo "ruvo-pack $command: no SYNOPSIS line in packaging/man/ruvo-pack.1.scd"; failures=$((failures + 1)); }
done
for command in $flash_commands; do
    grep -q "^\*ruvo-flash $command\*" "$SOURCE/packaging/man/ruvo-flash.1.scd" ||
        { echo "ruvo-flash $command: no SYNOPSIS line in packaging/man/ruvo-flash.1.scd"; failures=$((failures + 1)); }
done

CheckCompletion ruvo-pack _ruvo_pack "$pack_help" "$pack_commands" "$pack_commands_options" yes

if ((failures > 0)); then
    echo "$failures difference(s) between --help and the documentation or completions"
    exit 1
fi
echo "options agree: --help, man pages, docs/cli.md, bash completions"
