# bash completion for quillet                                     -*- shell-script -*-

_quillet() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="scan plan suggest help"
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local command=${words[1]} i
    # After "--" every word is an item path.
    for ((i = 2; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            COMPREPLY=($(compgen -d -- "$cur"))
            return
        fi
    done

    case $prev in
        --home | --root)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --scan | --simulators)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
    esac

    local setup="--home --root --no-roots --simulators --no-simulators --help"
    case $command in
        scan)
            COMPREPLY=($(compgen -W "$setup --json --json-stream --all --progress --no-progress" -- "$cur"))
            ;;
        plan)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$setup --scan --acknowledge-simulator-risk --" -- "$cur"))
            else
                COMPREPLY=($(compgen -d -- "$cur"))
            fi
            ;;
        suggest)
            COMPREPLY=($(compgen -W "--home --help" -- "$cur"))
            ;;
        help)
            ((cword == 2)) && COMPREPLY=($(compgen -W "scan plan suggest" -- "$cur"))
            ;;
    esac
} &&
    complete -F _quillet -o filenames quillet
