#!/usr/bin/env bash
# The build-information step reads the commit and the dirty mark from git: a
# clean tree and untracked files give no mark, changed or staged tracked files
# give "-dirty", a folder outside git gives "unknown"; an unchanged state leaves
# the header untouched, so nothing recompiles.
#   version_test.sh SOURCE_DIR
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tree=$tmp/tree header=$tmp/build_info.h
build_info() {
    cmake -DSOURCE_DIR="$tree" -DOUTPUT="$header" -DTEMPLATE="$src/cmake/build_info.h.in" -DRELEASE=1.2.3 \
        -P "$src/cmake/build_info.cmake" || fail "build_info.cmake exited with $?"
}
field() { sed -n "s/^#define TRACEMILL_$1 \"\(.*\)\"$/\1/p" "$header"; }
expect() {  # CASE SHA DIRTY
    build_info
    [ "$(field RELEASE)" = 1.2.3 ] || fail "$1: release $(field RELEASE)"
    [ "$(field GIT_SHA)" = "$2" ] || fail "$1: commit $(field GIT_SHA), expected $2"
    [ "$(field GIT_SHORT)" = "${2:0:8}" ] || fail "$1: short commit $(field GIT_SHORT)"
    [ "$(field DIRTY)" = "$3" ] || fail "$1: dirty mark '$(field DIRTY)', expected '$3'"
}

mkdir -p "$tree"
expect "outside git" unknown ""
git() { command git -C "$tree" -c user.name=t -c user.email=t@t "$@" >/dev/null; }
git init -q && echo a >"$tree/file" && git add file && git commit -q -m one
sha=$(command git -C "$tree" rev-parse HEAD)
expect "clean" "$sha" ""
touch -d '2000-01-01' "$header"
build_info
[ "$(stat -c %Y "$header")" = "$(date -d 2000-01-01 +%s)" ] || fail "unchanged state rewrote the header"
echo b >"$tree/untracked"
expect "untracked file" "$sha" ""
echo b >"$tree/file"
expect "changed file" "$sha" "-dirty"
git add file
expect "staged change" "$sha" "-dirty"
git commit -q -m two
expect "committed" "$(command git -C "$tree" rev-parse HEAD)" ""

[ $failures -eq 0 ] && echo "commit and dirty mark follow the tree"
exit $((failures > 0))
