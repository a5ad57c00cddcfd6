# bash completion for orrinfold                                  -*- shell-script -*-

_orrinfold() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD-1]}
    # An option's "=value" arrives as three words: the option, "=" and the value.
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    case $prev in
        --virtual-root | --state-dir)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
        --allow-outside | --config | --apache-config)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --dialect)
            mapfile -t COMPREPLY < <(compgen -W "orrinfold apache" -- "$cur"); return ;;
        --log-format)
            mapfile -t COMPREPLY < <(compgen -W "text json" -- "$cur"); return ;;
        --sarif)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --color)
            mapfile -t COMPREPLY < <(compgen -W "auto always never" -- "$cur"); return ;;
        --rename-pages)
            mapfile -t COMPREPLY < <(compgen -W "html htm" -- "$cur"); return ;;
        --convert | --skip | --jobs | -j | --settle | --port | --bind)
            COMPREPLY=(); return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--help --version --virtual-root --convert --skip
            --allow-outside --dialect --ap-expr --rename-pages --redirects --check-links
            --config --apache-config
            --jobs --full --state-dir --watch --settle --verbose
            --quiet --keep-going --werror --check --color --all-diagnostics
            --log-format --sarif --dry-run -n
            -h -V -j -q -v -k
            --port --bind --open" -- "$cur")
        return
    fi
    # SOURCE and DEST are folders; the first word may also be the init or serve command.
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    ((COMP_CWORD == 1)) && mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W "init serve" -- "$cur")
}
complete -o filenames -F _orrinfold orrinfold
