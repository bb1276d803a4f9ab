#!/bin/sh
# Lints a manual page: formatting it with every groff warning enabled must print nothing,
# and every option of the program must have an entry of its own.
# Usage: lint.sh PAGE SHORT_OPTIONS [LONG_OPTION...]
#   SHORT_OPTIONS in getopt form ("bd:h"); each letter needs an item line such as
#   ".B \-b" or ".BI \-d " list"", each long option one such as ".BR \-h ", " \-\-help".
# Exit status 77 (a skipped test) when groff is not installed.
set -u
page=$1
options=$2
shift 2

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

has_item() {
    grep -Eq "^\.B[IR]? $1( |\$)" "$page"
}

letters=$(printf '%s' "$options" | tr -d ':')
while [ -n "$letters" ]; do
    rest=${letters#?}
    letter=${letters%"$rest"}
    letters=$rest
    if ! has_item "\\\\-$letter"; then
        echo "$page: no entry for -$letter"
        failed=1
    fi
done
for long in "$@"; do
    if ! grep -Eq "^\.B[IR]? .*\\\\-\\\\-$long( |\$)" "$page"; then
        echo "$page: no entry for --$long"
        failed=1
    fi
done
exit "$failed"
