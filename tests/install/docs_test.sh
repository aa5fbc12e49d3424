#!/usr/bin/env bash
# The man page and the bash completion list exactly the options of `tracemill --help`,
# the completion offers exactly the --trace-format and --format values of the help, the man page
# renders without groff warnings, and its exit status table and the one ending --help say
# what README.md says.
#   docs_test.sh TRACEMILL MAN_PAGE SOURCE_DIR
set -uo pipefail
bin=$1 man_page=$2 src=$3
completion=$src/doc/tracemill.bash-completion
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Sorted unique lines of a text, for comparing sets.
set_of() { tr ' ' '\n' | sed '/^$/d' | sort -u; }
same_set() {  # NAME EXPECTED ACTUAL
    [ "$2" = "$3" ] || fail "$1 differ (< --help, > $1):"$'\n'"$(diff <(echo "$2") <(echo "$3"))"
}
long_options() { grep -oE -- '--[a-z][a-z-]*' | set_of; }
short_options() { grep -oE -- '(^|[[:space:]([|])-[A-Za-z]([^A-Za-z-]|$)' | grep -oE -- '-[A-Za-z]' | set_of; }

help=$("$bin" --help) || fail "--help exited with $?"
# Glossary lines: two blanks, the option's form, two or more blanks, its description.
mapfile -t forms < <(echo "$help" | sed -nE 's/^  (-[^ ]+(, -[^ ]+)?)  +.*/\1/p')
[ ${#forms[@]} -ge 10 ] || fail "only ${#forms[@]} options found in --help"
glossary=$(printf '%s\n' "${forms[@]}")
help_long=$(echo "$glossary" | long_options)
help_short=$(echo "$glossary" | short_options)
formats=$(echo "$help" | grep -oE -- '--trace-format=\{[^}]*\}' | head -n 1 | sed -E 's/.*\{(.*)\}/\1/' | tr ',' ' ' | set_of)
[ -n "$formats" ] || fail "no --trace-format values in --help"
outputs=$(echo "$help" | grep -oE -- '--format=\{[^}]*\}' | head -n 1 | sed -E 's/.*\{(.*)\}/\1/' | tr ',' ' ' | set_of)
[ -n "$outputs" ] || fail "no --format values in --help"

# Man page: every form of the help heads an entry; no other option is named.
man_warnings=$(LC_ALL=C MANWIDTH=120 man --warnings -l "$man_page" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "man page warnings: $man_warnings"
rendered=$(LC_ALL=C MANWIDTH=120 man -l "$man_page" 2>/dev/null)
[ -n "$rendered" ] || fail "man page renders empty"
# grep reads all its input (no -q): under pipefail an early exit would fail the
# writer of the pipe with SIGPIPE, now and then, when the machine is busy.
for form in "${forms[@]}"; do
    echo "$rendered" | sed -E 's/^ +//' | grep -E -- "^$(printf '%s' "$form" | sed -E 's/[][{}().*+?^$|\\]/\\&/g')( |$)" >/dev/null ||
        fail "man page has no entry '$form'"
done
same_set "man page long options" "$help_long" "$(echo "$rendered" | long_options)"
same_set "man page short options" "$help_short" "$(echo "$rendered" | short_options)"

# Completion: the same options, and the format values after -f and --trace-format=.
complete_words() {  # words of the command line, the last being completed
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tracemill; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion" "$@" | set_of
}
offered=$(complete_words tracemill -)
same_set "completion long options" "$help_long" "$(echo "$offered" | long_options)"
same_set "completion short options" "$help_short" "$(echo "$offered" | short_options)"
same_set "values after --trace-format=" "$formats" "$(complete_words tracemill --trace-format =)"
same_set "values after -f" "$formats" "$(complete_words tracemill -f '')"
same_set "values after --trace-format=v" "$formats" "$(complete_words tracemill --trace-format = v)"
same_set "completion of --trace-format=v (one word)" "$(echo "$formats" | sed 's/^/--trace-format=/')" \
    "$(complete_words tracemill --trace-format=v)"
same_set "values after -F" "$outputs" "$(complete_words tracemill -F '')"
same_set "values after --format=" "$outputs" "$(complete_words tracemill --format =)"
same_set "values after -F trc," "$(echo "$outputs" | grep -vx trc | sed 's/^/trc,/')" "$(complete_words tracemill -F trc,)"
[ "$(complete_words tracemill --del)" = "--delete-converted" ] || fail "--del does not complete"
[ "$(complete_words tracemill -p x --no-a)" = "--no-append-root" ] || fail "--no-a after -p x does not complete"

# Exit status: the README table and the man page's list, text for text.
readme_status=$(sed -n '/^## Exit status/,/^## /p' "$src/README.md" |
    sed -nE 's/^\| ([0-9]+) \| (.*) \|$/\1 \2/p' | tr -d '`')
man_status=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' "$man_page" |
    awk '/^\.TP/ { if (entry != "") print entry; entry = ""; next }
         /^\.B [0-9]+$/ { entry = $2; next }
         /^\.SH/ { next }
         entry != "" { entry = entry " " $0 }
         END { if (entry != "") print entry }' |
    sed -E 's/\\-/-/g; s/\\f[BIRP]//g')
help_status=$(echo "$help" | sed -n '/^Exit status/,$p' |
    awk '/^  [0-9]+ / { if (entry != "") print entry; entry = $1; sub(/^ +[0-9]+ +/, ""); entry = entry " " $0; next }
         /^       / { sub(/^ +/, ""); entry = entry " " $0 }
         END { if (entry != "") print entry }')
[ -n "$readme_status" ] || fail "no exit status table in README.md"
[ "$readme_status" = "$help_status" ] ||
    fail "exit status tables differ (< README, > --help):"$'\n'"$(diff <(echo "$readme_status") <(echo "$help_status"))"
[ "$readme_status" = "$man_status" ] ||
    fail "exit status tables differ (< README, > man page):"$'\n'"$(diff <(echo "$readme_status") <(echo "$man_status"))"

[ $failures -eq 0 ] && echo "man page, completion and help agree"
exit $((failures > 0))
