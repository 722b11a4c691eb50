# bash completion for veld-cli: the commands, each command's options, and as
# operands files (disk images) and block devices.

_veld_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="info search image restore erase update-check help"
    local IFS=$'\n'

    if (( COMP_CWORD == 1 )); then
        COMPREPLY=($(IFS=' '; compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    local options
    case ${COMP_WORDS[1]} in
        info) options="--json --partition" ;;
        search) options="--first --last --pictures-only --no-detail --trace --partition --threads --save --flat --json" ;;
        image) options="--force" ;;
        restore) options="--yes" ;;
        erase) options="--dod --yes" ;;
        help)
            (( COMP_CWORD == 2 )) && COMPREPLY=($(IFS=' '; compgen -W "$commands" -- "$cur"))
            return ;;
        *) return ;;
    esac
    case $prev in
        --first|--last|--partition|--threads) return ;;  # a number
        --save) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(IFS=' '; compgen -W "$options --help" -- "$cur"))
        return
    fi
    # Operands: block devices (card readers), then files and folders.
    local node devices=()
    for node in /dev/sd* /dev/mmcblk*; do
        [[ -b $node && $node == "$cur"* ]] && devices+=("$node")
    done
    if [[ $cur == /dev/* ]]; then
        COMPREPLY=("${devices[@]}")
    else
        COMPREPLY=("${devices[@]}" $(compgen -f -- "$cur"))
    fi
}
# Operands are quoted and folders get their slash as file names do.
complete -o filenames -F _veld_cli veld-cli
