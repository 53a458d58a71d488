# bash completion for ruvo-pack                            -*- shell-script -*-
# shellcheck shell=bash

_ruvo_pack()
{
    local cur prev words cword
    _init_completion || return

    local commands="image catalogue publish refresh keygen verify-release releases rollback verify inspect"
    if ((cword == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        fi
        return
    fi
    local command=${words[1]}

    # --record NAME IMAGE_PACKAGE DESCRIPTION: the second value is a file.
    if ((cword >= 3)) && [[ ${words[cword - 2]} == --record ]]; then
        _filedir
        return
    fi
    case $prev in
        --sign | --key)
            _filedir pem
            return
            ;;
        -o)
            _filedir
            return
            ;;
        --threshold)
            mapfile -t COMPREPLY < <(compgen -W "1 2 3" -- "$cur")
            return
            ;;
        --id | --first-block | --model | --status | --keep | --expires | --record)
            return
            ;;
    esac
    ((cword >= 4)) && [[ ${words[cword - 3]} == --record ]] && return

    local options
    case $command in
        image) options="--id --first-block -o" ;;
        catalogue) options="--model --status -o --record" ;;
        publish) options="--keep --replace --sign --expires --no-expiry --format-1-too --unsigned --key" ;;
        refresh) options="--sign --expires --no-expiry --model --format-1-too --key" ;;
        verify-release) options="--key --threshold" ;;
        rollback) options="--sign --expires --no-expiry --format-1-too --key --unsigned" ;;
        inspect) options="--id" ;;
        keygen | releases | verify) options="" ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
        return
    fi

    # Which positional argument is being typed: words that are neither
    # options nor their values, counted after the command.
    local position=0 i
    for ((i = 2; i < cword; i++)); do
        case ${words[i]} in
            --record) ((i += 3)) ;;
            --id | --first-block | -o | --model | --status | --keep | --sign | --expires | --key | --threshold) ((i++)) ;;
            -*) ;;
            *) ((position++)) ;;
        esac
    done
    case $command:$position in
        publish:0 | keygen:0 | image:0 | inspect:0 | verify:2) _filedir ;;
        publish:1 | refresh:0 | releases:0 | rollback:0 | verify-release:0) _filedir -d ;;
        verify:0) mapfile -t COMPREPLY < <(compgen -W "catalogue image" -- "$cur") ;;
    esac
}
complete -F _ruvo_pack ruvo-pack
