#!/usr/bin/env bash
# scripts/wine-run against a stand-in for wine: a start that Wine could not
# set up is made again (at most 5 starts in all, each retry named), anything
# else, failures of the program included, passes through once with its
# streams and status unchanged.
#   wine_run_test.sh SOURCE_DIR
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The stand-in fails to set up the first $SETUP_FAILURES starts, then acts as
# the program: prints "out" and $PROGRAM_ERR, and exits with $PROGRAM_STATUS.
mkdir "$tmp/bin"
cat >"$tmp/bin/wine" <<'WINE'
#!/bin/sh
starts=$(($(cat "$STARTS" 2>/dev/null || echo 0) + 1))
echo "$starts" >"$STARTS"
if [ "$starts" -le "$SETUP_FAILURES" ]; then
  echo "0024:err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018" >&2
  exit 1
fi
printf out
printf '%s' "$PROGRAM_ERR" >&2
exit "$PROGRAM_STATUS"
WINE
chmod +x "$tmp/bin/wine"

#   name                     setup failures  program status  program stderr  status  starts  retries
cases=(
  "clean start              0  0 log             0  1  0"
  "two failed set-ups       2  0 log             0  3  2"
  "set-up always failing    9  0 log             1  5  4"
  "the program's failure    0  8 E-no-such-file  8  1  0"
  "status 1 of the program  0  1 E-bad-input     1  1  0"
)
for c in "${cases[@]}"; do
  read -r -a f <<<"$c"
  n=${#f[@]}
  name="${f[*]:0:n-6}"
  export SETUP_FAILURES=${f[n-6]} PROGRAM_STATUS=${f[n-5]} PROGRAM_ERR=${f[n-4]}
  export STARTS=$tmp/starts WINE_RUN_RETRIES=$tmp/retries
  rm -f "$STARTS" "$WINE_RUN_RETRIES"
  status=0
  PATH="$tmp/bin:$PATH" "$src/scripts/wine-run" prog.exe a b >"$tmp/out" 2>"$tmp/err" || status=$?
  [ "$status" = "${f[n-3]}" ] || fail "$name: status $status, expected ${f[n-3]}"
  [ "$(cat "$STARTS")" = "${f[n-2]}" ] || fail "$name: $(cat "$STARTS") starts, expected ${f[n-2]}"
  retries=$(cat "$WINE_RUN_RETRIES" 2>/dev/null | wc -l)
  [ "$retries" = "${f[n-1]}" ] || fail "$name: $retries retries named, expected ${f[n-1]}"
  if [ "${f[n-3]}" = 1 ] && [ "$SETUP_FAILURES" -gt 4 ]; then
    grep -q "failed to map the shared user data" "$tmp/err" || fail "$name: Wine's error not passed on"
  else
    [ "$(cat "$tmp/out")" = out ] || fail "$name: standard output '$(cat "$tmp/out")'"
    [ "$(cat "$tmp/err")" = "$PROGRAM_ERR" ] || fail "$name: standard error '$(cat "$tmp/err")'"
  fi
  if [ "${f[n-1]}" != 0 ]; then
    grep -qx "prog.exe a b" "$WINE_RUN_RETRIES" 2>/dev/null || fail "$name: retry not named with its arguments"
  fi
done
[ "$failures" -eq 0 ] && echo "wine-run: all cases passed"
exit $((failures > 0))
