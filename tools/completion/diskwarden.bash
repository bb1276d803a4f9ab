# Bash completion for diskwarden, reelhead and wardenfs. Installed once per program name
# into bash-completion's directory (share/bash-completion/completions); each copy
# registers all three. Needs nothing but bash.

# Disk arguments: "N:" for the whole drives that are present (0: is /dev/sda, ...), the
# drives themselves as /dev/sdX, and files (images) and folders.
_diskwarden_disks()
{
    local cur=$1 n letter candidates=() IFS=$'\n'
    for n in 0 1 2 3 4 5 6 7 8 9; do
        letter=$(printf "\\$(printf '%03o' $((97 + n)))")
        [[ -b /dev/sd$letter ]] && candidates+=("$n:")
    done
    if [[ $cur == /dev/* ]]; then
        local device
        for device in /dev/sd[a-z] /dev/sd[a-z][a-z]; do
            [[ -b $device ]] && candidates+=("$device")
        done
    fi
    COMPREPLY+=($(compgen -W "${candidates[*]}" -- "$cur"))
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -f -- "$cur"))
}

# Files with one of the given extensions (any case), and folders to look into.
_diskwarden_files()
{
    local cur=$1 pattern=$2 IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$cur"))
    COMPREPLY+=($(shopt -s nocasematch; compgen -f -X "!$pattern" -- "$cur"))
}

_diskwarden()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
    -p) _diskwarden_files "$cur" '*.ts'; return ;;
    --bad-map | --domain-map) compopt -o filenames 2>/dev/null; local IFS=$'\n'; COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -O) COMPREPLY=($(compgen -W "mg" -- "$cur")); return ;;
    -d | -g | -H | -i | -u | -M | -V | --progress-fd | --retries) return ;; # numbers
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-b -d -D -E -g -h -H -i -l -M -n -O -p -r -s -u -v -V -w -x -y -Z
            --help --version --check --repair --bad-map --carve --carve-all --json --progress-fd --retries --domain-map" -- "$cur"))
        return
    fi
    _diskwarden_disks "$cur"
}

_reelhead()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-h -v --help --version --" -- "$cur"))
        return
    fi
    _diskwarden_files "$cur" '*.ts'
}

_wardenfs()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i positional=0
    COMPREPLY=()
    if [[ $prev == -o ]]; then
        COMPREPLY=($(compgen -W "allow_other allow_root default_permissions" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-h -V -f -d -s -o --help --version" -- "$cur"))
        return
    fi
    # The first argument that is no option is the disk, the second the mount point.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -o ]]; then
            ((i++))
        elif [[ ${COMP_WORDS[i]} != -* ]]; then
            ((positional++))
        fi
    done
    if ((positional == 0)); then
        _diskwarden_disks "$cur"
    else
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -d -- "$cur"))
    fi
}

complete -F _diskwarden diskwarden
complete -F _reelhead reelhead
complete -F _wardenfs wardenfs
