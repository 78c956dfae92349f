# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for palvoctl: its commands and options, the host programs, and the modes of
# the one it would talk to.
_palvoctl()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} host=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in -p|--host) host=(--host "${COMP_WORDS[i+1]}") ;; esac
    done
    case $prev in
        -p|--host) COMPREPLY=($(compgen -W 'fldigi wsjtx sim' -- "$cur")); return ;;
        mode) COMPREPLY=($(compgen -W "$(palvoctl "${host[@]}" --timeout 500 --format '{modes}' 2>/dev/null)" -- "$cur")); return ;;
        --format|--timeout|--wait|audio|rig|macro|send) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--host --list --follow --format --timeout --wait --no-check --help --version' -- "$cur"))
    else
        COMPREPLY=($(compgen -W 'mode audio rig transmitting tx rx clear macro send' -- "$cur"))
    fi
}
complete -F _palvoctl palvoctl
