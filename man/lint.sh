#!/bin/sh
# Lints a manual page: formatting it with every groff warning enabled must print nothing,
# and every option of the program must have an entry of its own.
# Usage: lint.sh PAGE [-t HELP_TEXT] [-x NOT_IN_HELP] [-s SHORT_OPTIONS] [LONG_OPTION...]
#   HELP_TEXT: the program's help as its test expects it (tests/*/expect/help): each option
#     it shows, on a usage line or at the start of an item line, needs an entry.
#   SHORT_OPTIONS in getopt form ("bd:h") and the LONG_OPTIONs: the options the program
#     parses; each needs an entry too. With a help text as well, the two must agree: an
#     option the help shows must be parsed, and one that is parsed must be shown unless
#     NOT_IN_HELP names it ("s help": -s and --help are left out on purpose).
#   An entry is an item line such as ".B \-b", ".BI \-d " list"" or ".BR \-h ", " \-\-help".
# Exit status 77 (a skipped test) when groff is not installed.
set -u
page=$1
shift
help_text=
not_in_help=
short=
while getopts t:x:s: flag; do
    case $flag in
    t) help_text=$OPTARG ;;
    x) not_in_help=$OPTARG ;;
    s) short=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))

if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed (Debian: groff-base); not checked"
    exit 77
fi

failed=0
warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$warnings" ]; then
    echo "$page: groff reports (status $status):"
    echo "$warnings"
    failed=1
fi

# The options a help text shows, one a line ("-b", "--check"): every one on its usage
# lines, and those an item line starts with ("  -h, --help  this text").
shown_options() {
    awk '
    function option(word) {
        gsub(/^\[|[],]+$/, "", word)
        return word ~ /^-[A-Za-z]$/ || word ~ /^--[a-z][a-z-]*$/ ? word : ""
    }
    /^Usage: / || /^ +@PROGRAM@ / {
        for (i = 2; i <= NF; ++i)
            if (option($i) != "")
                print option($i)
        next
    }
    /^ +-/ {
        for (i = 1; i <= NF && option($i) != ""; ++i)
            print option($i)
    }' "$1" | sort -u
}

# The options the program parses, one a line.
parsed_options() {
    letters=$(printf '%s' "$short" | tr -d ':')
    while [ -n "$letters" ]; do
        rest=${letters#?}
        printf -- '-%s\n' "${letters%"$rest"}"
        letters=$rest
    done
    for long in "$@"; do
        printf -- '--%s\n' "$long"
    done
}

parsed=$(parsed_options "$@" | sort -u)
shown=
if [ -n "$help_text" ]; then
    if [ ! -r "$help_text" ]; then
        echo "$help_text: cannot be read"
        exit 1
    fi
    shown=$(shown_options "$help_text")
    if [ -z "$shown" ]; then
        echo "$help_text: shows no option"
        failed=1
    fi
fi

# "-b" -> "\\-b", "--bad-map" -> "\\-\\-bad-map": the page's leading dashes, as a pattern.
escaped() {
    case $1 in
    --*) printf '%s' "\\\\-\\\\-${1#--}" ;;
    *) printf '%s' "\\\\-${1#-}" ;;
    esac
}

# A short option's entry starts with it; a long one's may follow its short form.
for option in $(printf '%s\n%s\n' "$shown" "$parsed" | sort -u); do
    case $option in
    --*) before='.*' ;;
    *) before= ;;
    esac
    if ! grep -Eq "^\.B[IR]? $before$(escaped "$option")( |\$)" "$page"; then
        echo "$page: no entry for $option"
        failed=1
    fi
done

if [ -n "$help_text" ] && [ -n "$parsed" ]; then
    for option in $shown; do
        if ! printf '%s\n' "$parsed" | grep -qxF -- "$option"; then
            echo "$help_text: shows $option, which the program does not parse"
            failed=1
        fi
    done
    for option in $parsed; do
        name=${option#-}
        name=${name#-}
        if ! printf '%s\n' "$shown" | grep -qxF -- "$option" &&
            ! printf ' %s ' "$not_in_help" | grep -qF " $name "; then
            echo "$help_text: does not show $option, which the program parses"
            failed=1
        fi
    done
fi
exit "$failed"
