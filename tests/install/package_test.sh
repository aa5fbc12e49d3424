#!/usr/bin/env bash
# The Debian package: named tracemill_<release>_<arch>.deb, its version the release
# of `tracemill --version`, its Depends computed from the binary, lintian finding
# nothing beyond what README.md lists; unpacked into a temporary root, its binary
# converts the examples exactly as the build's binary does.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
release=$("$build/tracemill" --version | sed -n 's/^Release: \([0-9.]*\),.*/\1/p')
deb=$tmp/tracemill_${release}_$(dpkg --print-architecture).deb

cpack --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || fail "cpack: $(cat "$tmp/cpack.log")"
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(cd "$tmp" && echo *.deb)"
[ "$(dpkg-deb -f "$deb" Version)" = "$release" ] || fail "package version $(dpkg-deb -f "$deb" Version), release $release"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libexpat1 libargtable2-0 libssl3; do
    [[ $depends == *"$library ("* ]] || fail "Depends lacks $library: $depends"
done

# Tags other than these are new findings: fix them, or list them in README.md and here.
known_tags="no-copyright-file"
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps --package)"
tags=$(lintian --display-info --no-tag-display-limit "$deb" 2>/dev/null | sed -nE 's/^[EWI]: tracemill[^:]*: ([^ ]+).*/\1/p' | sort -u)
[ "$tags" = "$known_tags" ] || fail "lintian tags: $(echo $tags), expected: $known_tags"

root=$tmp/root
dpkg -x "$deb" "$root" || fail "dpkg -x exited with $?"
[ -f "$root/usr/share/man/man1/tracemill.1.gz" ] || fail "no man page in the package"
[ -f "$root/usr/share/bash-completion/completions/tracemill" ] || fail "no completion in the package"
"$root/usr/bin/tracemill" --version | grep -x "Release: $release, commit .*" >/dev/null || fail "installed --version"
declare -A binary=([installed]=$root/usr/bin/tracemill [built]=$build/tracemill)
for format in version2 version1; do
    for which in installed built; do
        out=$tmp/$format-$which
        mkdir -p "$out"
        (cd "$src" && "${binary[$which]}" --verbosity=1 -f "$format" -p examples/passwords.json -O "$out" examples/*/)
        echo "$?" >"$out/status"
    done
    [ "$(find "$tmp/$format-installed" -name '*.trc' | wc -l)" -ge 5 ] || fail "$format: too few trace files written"
    diff -r "$tmp/$format-installed" "$tmp/$format-built" >/dev/null ||
        fail "$format: installed and built binaries differ on the examples"
done

[ $failures -eq 0 ] && echo "$(basename "$deb") installs and converts as the build does"
exit $((failures > 0))
