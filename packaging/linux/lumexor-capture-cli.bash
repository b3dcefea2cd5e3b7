# bash completion for lumexor-capture-cli: its commands, the options each command takes, firmware
# packages (*.fw) for check and update, and the ports of the attached devices for --port.

_lumexor_capture_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    case $prev in
    --aspect-ratio | --performance | --audio-selector)
        mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur")
        return
        ;;
    --port)
        # The ports as list --json names them; grep and sed, so no JSON tool is needed.
        local ports
        ports=$("${COMP_WORDS[0]}" list --json 2>/dev/null |
            grep -o '"port": *"[^"]*"' | sed 's/^"port": *"//; s/"$//')
        mapfile -t COMPREPLY < <(compgen -W "$ports" -- "$cur")
        return
        ;;
    --mode)
        mapfile -t COMPREPLY < <(compgen -W "1= 2= 3=" -- "$cur")
        compopt -o nospace 2>/dev/null
        return
        ;;
    --vid | --pid | --serial | --jobs)
        return
        ;;
    esac

    local command="" word i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
        --vid | --pid | --serial | --port | --aspect-ratio | --performance | --audio-selector | \
            --mode | --jobs)
            ((i++))
            ;;
        -*) ;;
        *)
            command=$word
            break
            ;;
        esac
    done

    if [ -z "$command" ]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W \
                "list check update settings user-modes signal history" -- "$cur")
        fi
        return
    fi

    local options="--json --debug" selection="--vid --pid --serial --port"
    case $command in
    list) options+=" $selection" ;;
    check | history) ;;
    update) options+=" $selection --force --all --jobs" ;;
    settings) options+=" $selection --aspect-ratio --performance --audio-selector" ;;
    user-modes) options+=" $selection --mode" ;;
    signal) options+=" $selection --watch" ;;
    *) return ;;
    esac

    if [[ $cur != -* ]] && [[ $command == check || $command == update ]]; then
        # The package: *.fw files and the folders that may hold them.
        local package=""
        for ((i++; i < COMP_CWORD; i++)); do
            word=${COMP_WORDS[i]}
            case $word in
            --vid | --pid | --serial | --port | --jobs) ((i++)) ;;
            -*) ;;
            *) package=$word ;;
            esac
        done
        if [ -z "$package" ]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.fw' -- "$cur")
            return
        fi
    fi
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}
complete -F _lumexor_capture_cli lumexor-capture-cli
