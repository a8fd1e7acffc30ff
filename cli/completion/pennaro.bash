# Bash completion for pennaro: the commands, then the options each
# command's own --help lists (so the two never disagree), a few option
# values, and file names.
_pennaro() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local tool=${COMP_WORDS[0]} command=${COMP_WORDS[1]}
    local commands
    commands=$("$tool" --help 2>/dev/null | awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1} on && /^$/ {on = 0}')
    if ((COMP_CWORD == 1)) || { [[ $command == help ]] && ((COMP_CWORD == 2)); }; then
        mapfile -t COMPREPLY < <(compgen -W "$commands help" -- "$cur")
        return
    fi
    case $prev in
        --exr-type) mapfile -t COMPREPLY < <(compgen -W "half float" -- "$cur"); return ;;
        --exr-compression) mapfile -t COMPREPLY < <(compgen -W "none zip zips piz dwaa dwab" -- "$cur"); return ;;
        --prores) mapfile -t COMPREPLY < <(compgen -W "4444 422hq" -- "$cur"); return ;;
        --depth) mapfile -t COMPREPLY < <(compgen -W "8 16" -- "$cur"); return ;;
        --to) mapfile -t COMPREPLY < <(compgen -W "svg lottie json block" -- "$cur"); return ;;
        --wiggle | --individual-seeds) mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur"); return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$("$tool" "$command" --help 2>/dev/null |
            grep -oE -- '(^|[ ,])--?[a-zA-Z][-a-zA-Z]*' | tr -d ' ,' | sort -u)" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _pennaro pennaro
