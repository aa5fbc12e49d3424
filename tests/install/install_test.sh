#!/usr/bin/env bash
# The install rules put the converter, its man page, its bash completion and the
# changelog under the prefix inside DESTDIR, and nothing else; the installed binary
# is the build's, the man page renders, and uninstalling through the manifest
# removes every file.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
release=$("$build/tracemill" --version | sed -n 's/^Release: \([0-9.]*\),.*/\1/p')
[ -n "$release" ] || fail "no release number in --version"

for prefix in /usr /opt/tracemill; do
    stage=$tmp/stage${prefix//\//_}
    root=$stage$prefix
    manifest=$build/install_manifest_tracemill.txt
    # The component install writes its own manifest, leaving a real install's alone.
    DESTDIR=$stage cmake --install "$build" --component tracemill --prefix "$prefix" >/dev/null ||
        fail "$prefix: cmake --install exited with $?"
    expected=$(printf '%s\n' bin/tracemill share/bash-completion/completions/tracemill \
        share/doc/tracemill/changelog.gz share/man/man1/tracemill.1.gz)
    actual=$(cd "$root" 2>/dev/null && find . -type f -o -type l | sed 's|^\./||' | sort)
    [ "$actual" = "$expected" ] || fail "$prefix: installed files:"$'\n'"$actual"
    outside=$(find "$stage" -type f -o -type l | grep -v "^$root/")
    [ -z "$outside" ] || fail "$prefix: files outside the prefix: $outside"
    cmp -s "$root/bin/tracemill" "$build/tracemill" || fail "$prefix: installed binary differs from the build's"
    "$root/bin/tracemill" --version | grep -x "Release: $release, commit .*" >/dev/null || fail "$prefix: installed --version"

    page=$(LC_ALL=C MANWIDTH=80 man -l "$root/share/man/man1/tracemill.1.gz" 2>&1)
    echo "$page" | grep '^ *tracemill - convert MDF4 bus logs into CAN trace files$' >/dev/null || fail "$prefix: man page NAME"
    echo "$page" | tail -n 1 | grep "^tracemill $release " >/dev/null || fail "$prefix: man page footer lacks $release"
    [ "$(bash -c 'source "$1" && complete -p tracemill' _ "$root/share/bash-completion/completions/tracemill")" = \
        "complete -F _tracemill tracemill" ] || fail "$prefix: completion does not register"

    [ "$(sort "$manifest")" = "$(echo "$expected" | sed "s|^|$prefix/|")" ] || fail "$prefix: manifest:"$'\n'"$(cat "$manifest")"
    DESTDIR=$stage cmake -DMANIFEST="$manifest" -P "$src/cmake/uninstall.cmake" >/dev/null || fail "$prefix: uninstall exited with $?"
    left=$(find "$stage" -type f -o -type l)
    [ -z "$left" ] || fail "$prefix: left after uninstall: $left"
    [ ! -e "$manifest" ] || fail "$prefix: manifest kept after uninstall"
done

[ $failures -eq 0 ] && echo "install and uninstall under /usr and /opt/tracemill"
exit $((failures > 0))
