#!/bin/sh
# The manual page lists, in its OPTIONS section, every option the program's
# --help prints, and renders without a single groff warning.
#
#   manual_page_test.sh PROGRAM PAGE
set -eu
program=$1
page=$2
failed=0

options=$("$program" --help | sed -n 's/^ *\(--[a-z][a-z-]*\).*/\1/p')
if [ -z "$options" ]; then
    echo "no option found in the output of $program --help" >&2
    exit 1
fi

# man-db strips the formatting when its output is not a terminal; the C
# locale keeps the hyphens plain ASCII.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
rendered=$(LC_ALL=C MANWIDTH=80 man --warnings=w -l "$page" 2>"$errors") || echo "man failed" >>"$errors"
groff -ww -z -man -Tutf8 "$page" 2>>"$errors" || echo "groff failed" >>"$errors"
if [ -s "$errors" ]; then
    echo "rendering $page gives warnings:" >&2
    cat "$errors" >&2
    failed=1
fi

section=$(printf '%s\n' "$rendered" | awk '/^[A-Z]/ { on = ($0 == "OPTIONS"); next } on')
for option in $options; do
    if ! printf '%s\n' "$section" | grep -Eq -- "^ +$option( |,|\$)"; then
        echo "OPTIONS of $page does not describe $option" >&2
        failed=1
    fi
done
exit $failed
