#!/usr/bin/env bash
# The manual pages against the programs' own --help: every option that a
# program's --help lists (long and short forms) must appear in its page. A
# program whose page does not exist yet is passed over. The check itself is
# then run on a copy of a page with one option struck out, where it must fail.
#
# Usage: man_pages_test.sh MAN_DIR SKARNEL SKARNEL_RENDER
set -euo pipefail

fail() { echo "man_pages_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 3 ]] || fail "usage: $0 MAN_DIR SKARNEL SKARNEL_RENDER"
man_dir=$(realpath "$1")
command -v groff >/dev/null || fail "'groff' is missing; this test needs the package groff-base"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The options in a --help text: words that begin with one or two hyphens and
# a letter, wherever they stand in a line ("-o, --output FILE", "[--help]").
help_options() {
    grep -oE -- '(^|[][ ,|=(])--?[A-Za-z][A-Za-z0-9-]*' | grep -oE -- '--?[A-Za-z][A-Za-z0-9-]*' |
        sort -u
}

# The page as a reader sees it, in plain ASCII ("\-" becomes "-"), without
# hyphenation, so that an option is never split across two lines.
page_text() {
    groff -man -Tascii -rHY=0 -rLL=250n -P-c -P-b -P-o -P-u "$1" 2>/dev/null
}

# missing_options PROGRAM PAGE: prints the options of PROGRAM --help that
# PAGE does not mention as a whole word.
missing_options() {
    local options option text
    options=$("$1" --help) || fail "$1 --help ended with $?"
    text=$(page_text "$2")
    [[ -n $text ]] || fail "groff made nothing of $2"
    help_options <<<"$options" >"$work/options"
    [[ -s $work/options ]] || fail "found no option in $1 --help:
$options"
    while read -r option; do
        grep -qE -- "(^|[^A-Za-z0-9-])${option}(\$|[^A-Za-z0-9-])" <<<"$text" || echo "$option"
    done <"$work/options"
}

checked=0
for pair in "$2:skarnel.1" "$3:skarnel-render.1"; do
    program=${pair%%:*}
    page=$man_dir/${pair#*:}
    if [[ ! -e $page ]]; then
        echo "man_pages_test: no $page yet; $(basename "$program") not checked"
        continue
    fi
    missing=$(missing_options "$program" "$page")
    [[ -z $missing ]] || fail "$(basename "$page") does not mention these options of $(basename "$program") --help:
$missing"
    echo "man_pages_test: $(basename "$page") mentions all of: $(tr '\n' ' ' <"$work/options")"
    checked=$((checked + 1))
    last_program=$program last_page=$page
done
[[ $checked -gt 0 ]] || fail "no manual page found in $man_dir"

# The check must see an option that is missing: strike the longest one out of
# the last page (as "\-\-name" and as "--name") and run it again.
struck=$(awk '{ print length, $0 }' "$work/options" | sort -rn | head -n 1 | cut -d' ' -f2)
troff_form=${struck//-/\\\\-}
sed -e "s/${troff_form}//g" -e "s/${struck}//g" "$last_page" >"$work/struck.1"
missing=$(missing_options "$last_program" "$work/struck.1")
grep -qxF -- "$struck" <<<"$missing" ||
    fail "with $struck struck out of $(basename "$last_page") the check still passed"
echo "man_pages_test: PASS"
