# bash completion for ruvo-flash                           -*- shell-script -*-
# shellcheck shell=bash

_ruvo_flash()
{
    local cur prev words cword
    # sim:PATH is one word: do not split it at the colon.
    _init_completion -n : || return

    case $prev in
        --device)
            if [[ $cur == sim:* ]]; then
                compopt -o filenames
                mapfile -t COMPREPLY < <(compgen -f -- "${cur#sim:}" | sed 's/^/sim:/')
            else
                mapfile -t COMPREPLY < <(compgen -W "sim: $(compgen -G '/dev/hidraw*')" -- "$cur")
                [[ ${COMPREPLY[*]} == sim: ]] && compopt -o nospace
            fi
            __ltrim_colon_completions "$cur"
            return
            ;;
        --option)
            mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5" -- "$cur")
            return
            ;;
        --threshold)
            mapfile -t COMPREPLY < <(compgen -W "1 2 3" -- "$cur")
            return
            ;;
        --key)
            _filedir pem
            return
            ;;
        --log)
            _filedir
            return
            ;;
        --state)
            _filedir -d
            return
            ;;
        --base-url)
            return
            ;;
    esac

    # The command is the first word that is neither an option nor its value.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --device | --option | --base-url | --key | --threshold | --state | --log) ((i++)) ;;
            -*) ;;
            *) command=${words[i]} && break ;;
        esac
    done

    local options
    case $command in
        list) options="--device --json" ;;
        info) options="--device --base-url --key --threshold --trust-key --state --allow-http --json" ;;
        update)
            options="--device --all --option --base-url --key --threshold --trust-key --state --allow-http
                     --json --yes --log"
            ;;
        "")
            if [[ $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
            else
                mapfile -t COMPREPLY < <(compgen -W "list info update" -- "$cur")
            fi
            return
            ;;
        *) return ;;
    esac
    [[ $cur == -* ]] && mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
}
complete -F _ruvo_flash ruvo-flash
