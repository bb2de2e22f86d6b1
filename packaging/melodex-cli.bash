# bash completion for melodex-cli                          -*- shell-script -*-
#
# CLI11 writes no completion, so the words below are kept by hand; the test
# suite compares them with `melodex-cli --help` and each command's --help
# both ways, and names what is missing where. It needs nothing from the
# bash-completion package, so it also works when sourced alone.

_melodex_cli()
{
    local cur="${COMP_WORDS[COMP_CWORD]}" prev="" i
    ((COMP_CWORD > 0)) && prev="${COMP_WORDS[COMP_CWORD - 1]}"
    # bash splits `--unit=kb` at "=": the option is one word back from "=".
    if [[ $cur == "=" ]]; then
        cur=""
    elif [[ $prev == "=" && COMP_CWORD -gt 1 ]]; then
        prev="${COMP_WORDS[COMP_CWORD - 2]}"
    fi

    # The options before the command take no value, so the first word that
    # is no option is the command.
    local command=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then
            command="${COMP_WORDS[i]}"
            break
        fi
    done

    # options: all a command knows; valued: those that take the next word.
    local options valued="" folder=""
    case "$command" in
        "")
            options="-h --help --version"
            if [[ $cur != -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "info list playlist presets" -- "$cur")
                return
            fi
            ;;
        info)
            options="-h --help --formats --json --csv --csv-safe --verbose"
            valued="--formats"
            folder=1
            ;;
        list)
            options="-h --help --title -o --output --columns --colors --border --unit --style --group --preset --formats -r --recursive --index -q --quiet --verbose"
            valued="--title -o --output --columns --colors --border --unit --style --group --preset --formats"
            folder=1
            ;;
        playlist)
            options="-h --help -o --output --formats -r --recursive"
            valued="-o --output --formats"
            folder=1
            ;;
        presets)
            options="-h --help --path"
            ;;
        *)
            return
            ;;
    esac

    if [[ -n $prev && " $valued " == *" $prev "* ]]; then
        _melodex_cli_value "$1" "$prev" "$cur"
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ -n $folder ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    fi
}

# The value of OPTION ($2) so far ($3); $1 is the command as typed, asked for
# the saved preset names.
_melodex_cli_value()
{
    local cur="$3" done=""
    case "$2" in
        --unit)
            mapfile -t COMPREPLY < <(compgen -W "byte kb mb" -- "$cur")
            ;;
        --style)
            mapfile -t COMPREPLY < <(compgen -W "classic modern" -- "$cur")
            ;;
        --group)
            mapfile -t COMPREPLY < <(compgen -W "album" -- "$cur")
            ;;
        --border)
            mapfile -t COMPREPLY < <(compgen -W "$(echo {0..15})" -- "$cur")
            ;;
        --columns)
            # One field per column, comma-separated: complete the last one and
            # leave room for the next comma.
            [[ $cur == *,* ]] && done="${cur%,*},"
            local fields="file track artist album year comment genre size time bitrate samplerate none" i
            # The classic page has no room for these; offer them once the
            # line asks for the modern one.
            for ((i = 1; i < COMP_CWORD; i++)); do
                [[ ${COMP_WORDS[i]} == --style ]] || continue
                [[ ${COMP_WORDS[i + 1]} == "=" ]] && ((i++))
                [[ ${COMP_WORDS[i + 1]} == modern ]] && fields+=" tracknumber albumartist"
            done
            mapfile -t COMPREPLY < <(compgen -P "$done" -W "$fields" -- "${cur##*,}")
            compopt -o nospace 2>/dev/null
            ;;
        --formats)
            [[ $cur == *,* ]] && done="${cur%,*},"
            mapfile -t COMPREPLY < <(compgen -P "$done" -W \
                "mp3 flac mp4 vorbis opus wav aiff all" -- "${cur##*,}")
            compopt -o nospace 2>/dev/null
            ;;
        --colors)
            [[ $cur == *,* ]] && done="${cur%,*},"
            mapfile -t COMPREPLY < <(compgen -P "$done" -W \
                "BLACK BLUE CYAN DARKBLUE DARKCYAN DARKGREEN DARKORANGE DARKRED DARKSEAGREEN DEEPPINK DEEPSKYBLUE FORESTGREEN GRAY GREEN HOTPINK KHAKI LAVENDER LAVENDERBLUSH LEMONCHIFFON LIGHTBLUE LIGHTCORAL LIGHTGRAY LIGHTPINK LIGHTYELLOW ORANGE PURPLE RED SKYBLUE WHITE YELLOW" -- "${cur##*,}")
            compopt -o nospace 2>/dev/null
            ;;
        --preset)
            # Names may hold spaces ("save_key_ 0"): match them whole, one a
            # line, and hand them back quoted for the command line.
            local name unquoted="${cur//\\/}"
            unquoted="${unquoted#[\"\']}"
            COMPREPLY=()
            while IFS= read -r name; do
                [[ $name == "$unquoted"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
            done < <("$1" presets 2>/dev/null)
            ;;
    esac
}

complete -F _melodex_cli melodex-cli
