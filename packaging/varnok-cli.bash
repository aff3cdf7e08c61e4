# bash completion for varnok-cli: its commands, each command's options, and file names.

_varnok_cli()
{
    local cur prev words cword
    _init_completion || return

    local commands="stat describe create clone copy save load fields tables export convert recover"
    local global="-h --help --version -q --quiet"

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local options=""
    local pages="auto CP437 CP850 CP852 CP866 CP1250 CP1251 CP1252 KOI8-R"
    if [[ $prev == --encoding ]]; then
        COMPREPLY=($(compgen -W "$pages" -- "$cur"))
        return
    fi
    case $command in
        stat)
            options="--json --encoding --owner"
            case $prev in
                --owner) return ;;
            esac
            ;;
        describe) options="--replace" ;;
        create) options="--replace" ;;
        clone) options="--replace" ;;
        copy)
            options="--owner"
            case $prev in
                --owner) return ;;
            esac
            ;;
        save)
            options="-k --key -p --physical --owner"
            case $prev in
                -k | --key | --owner) return ;;
            esac
            ;;
        load) options="--keep-going" ;;
        recover)
            options="--save --definition --whole-only --json --owner"
            case $prev in
                --owner) return ;;
            esac
            ;;
        fields)
            options="--json --sample --encoding --dictionary --table --infer --keys-only --layout --owner"
            case $prev in
                --dictionary) _filedir -d; return ;;
                --layout) _filedir; return ;;
                --table | --sample | --owner) return ;;
            esac
            ;;
        tables) options="--json --encoding" ;;
        export)
            options="-f --format --dialect -d --delimiter --no-header --null -k --key -p --physical -o --output --encoding --dictionary --table --infer --keys-only --layout --owner"
            case $prev in
                -f | --format) COMPREPLY=($(compgen -W "csv jsonl sql" -- "$cur")); return ;;
                --dialect) COMPREPLY=($(compgen -W "sqlite postgresql" -- "$cur")); return ;;
                --dictionary) _filedir -d; return ;;
                --layout) _filedir; return ;;
                -d | --delimiter | --null | -k | --key | --table | --owner) return ;;
            esac
            ;;
        convert)
            options="--into --encoding --dictionary --infer --keys-only --layout --owner"
            case $prev in
                --dictionary) _filedir -d; return ;;
                --layout) _filedir; return ;;
                --owner) return ;;
            esac
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options -h --help -q --quiet" -- "$cur"))
        return
    fi
    _filedir
}
complete -F _varnok_cli varnok-cli
