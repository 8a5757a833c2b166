# bash completion for varnok-cli: the commands, each command's options, the values of the options that take
# one of a fixed set (--type, --method, --level, ...), folders after -d, and file names otherwise. Installed as
# share/bash-completion/completions/varnok-cli; it needs nothing from the bash-completion package.

# The options of a command that take a value (prints them, space-separated).
_varnok_cli_value_options()
{
    case $1 in
        list) echo "--encoding -p" ;;
        extract) echo "-d -p --encoding --max-ratio --max-size" ;;
        test) echo "-p --encoding --max-ratio" ;;
        add) echo "--type --level --method --lzx-level --quantum-level -p --paths --exclude --comment --encoding" ;;
        encode) echo "-o --volume-size" ;;
        convert) echo "--type -o -p" ;;
        repair) echo "-o" ;;
        sfx) echo "-o --caption --default-dir --overwrite --message" ;;
        unsfx) echo "-o" ;;
        comment) echo "--set --file" ;;
        span) echo "--volume-size --naming -o" ;;
        join) echo "-o" ;;
    esac
}

# The options of a command that take no value.
_varnok_cli_flags()
{
    case $1 in
        list) echo "--dirs --json --raw" ;;
        extract) echo "--overwrite --skip-existing --update --flat -v --raw" ;;
        test) echo "--raw" ;;
        add) echo "-r --move --update --freshen -v --engine" ;;
        delete) echo "-v --engine" ;;
        encode) echo "--table --overwrite -v" ;;
        convert) echo "--add-to --overwrite --no-test -v" ;;
        repair) echo "--overwrite -v" ;;
        span | join) echo "--overwrite" ;;
    esac
}

# The fixed values of a command's option (none: any value goes).
_varnok_cli_choices()
{
    case $1:$2 in
        add:--type) echo "zip jar bh lha tar tgz gz cab" ;;
        convert:--type) echo "bh cab lzh zip jar tar tgz" ;;
        add:--level) echo "0 1 2 3 4" ;;
        add:--method) echo "lh0 lh5 lh6 store mszip lzx quantum" ;;
        add:--lzx-level) echo "15 16 17 18 19 20 21" ;;
        add:--quantum-level) echo "1 2 3 4 5 6 7" ;;
        add:--paths) echo "relative full none" ;;
        sfx:--overwrite) echo "ask always never" ;;
        span:--naming) echo "numbered z01" ;;
    esac
}

_varnok_cli_files()
{
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen "$1" -- "$2"))
}

_varnok_cli()
{
    local commands="list identify extract test add delete encode convert repair sfx unsfx rename comment span join formats help"
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return 0
    fi
    local cmd=${COMP_WORDS[1]}
    if [[ $cmd == help ]]; then
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return 0
    fi
    case " $commands " in
        *" $cmd "*) ;;
        *) return 0 ;;
    esac
    local values flags
    values=$(_varnok_cli_value_options "$cmd")
    flags=$(_varnok_cli_flags "$cmd")

    # Walk the words before the cursor: the value of an option is no operand, and "--" ends the options.
    local i word operands=0 options=1 pending=""
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $pending ]]; then
            pending=""
        elif ((options)) && [[ $word == -- ]]; then
            options=0
        elif ((options)) && [[ " $values " == *" $word "* ]]; then
            pending=$word
        elif ((options)) && [[ $word == -?* ]]; then
            :
        else
            ((operands++))
        fi
    done

    if [[ -n $pending ]]; then
        local choices
        choices=$(_varnok_cli_choices "$cmd" "$pending")
        if [[ -n $choices ]]; then
            COMPREPLY=($(compgen -W "$choices" -- "$cur"))
        elif [[ $pending == -d ]]; then
            _varnok_cli_files -d "$cur"
        elif [[ $pending == -o || $pending == --file ]]; then
            _varnok_cli_files -f "$cur"
        fi
        return 0
    fi
    if ((options)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$flags $values -h --help" -- "$cur"))
        return 0
    fi
    case $cmd in
        formats) return 0 ;;
        encode)
            if ((operands == 0)); then
                COMPREPLY=($(compgen -W "uue xxe mime" -- "$cur"))
                return 0
            fi
            ;;
    esac
    _varnok_cli_files -f "$cur"
    return 0
}

complete -F _varnok_cli varnok-cli
