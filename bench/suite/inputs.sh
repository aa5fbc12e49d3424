# Builds the benchmark inputs into the cache folder, deterministic from a seed.
# Sourced by scripts/bench. The inputs are regenerated only when the seed, the
# sizes or the sources of the writers change (recorded in a stamp file).
#
#   plain.mf4       FRAMES events, 4 interleaved data groups, payloads in SD
#                   blocks and VLSD channel groups
#   plain.mfc       the same, compressed (window 11, lookahead 4) with CRC footer
#   plain.mfe       the same, encrypted
#   plain.mfm       the compressed container, encrypted
#   small/          SMALL_FILES logs of SMALL_FRAMES events each
#   groups64.mf4    FRAMES events in 64 data groups
#   passwords.json  the password of the encrypted inputs

bench_password="bench-password"
bench_iv="000102030405060708090a0b"
bench_salt="0f0e0d0c0b0a09080706050403020100"

# Content key of the inputs: parameters plus the writers' sources.
inputs_key() {
  local root=$1 seed=$2 frames=$3 small_files=$4 small_frames=$5
  {
    echo "seed=$seed frames=$frames small=$small_files x $small_frames"
    cat "$root"/tools/*.h "$root"/tools/*.cpp "$root"/tools/bin/tm_benchgen.cpp "$root"/tools/bin/tm_container.cpp
  } | md5sum | cut -d' ' -f1
}

prepare_inputs() {
  local root=$1 build=$2 dir=$3 seed=$4 frames=$5 small_files=$6 small_frames=$7
  local key
  key=$(inputs_key "$root" "$seed" "$frames" "$small_files" "$small_frames")
  if [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$key" ]; then
    echo "inputs: up to date in $dir"
    return 0
  fi
  echo "inputs: generating into $dir (seed $seed, $frames frames)"
  rm -rf "$dir"
  mkdir -p "$dir"
  "$build/tm_benchgen" -o "$dir/plain.mf4" -n "$frames" -g 4 -s "$seed"
  "$build/tm_container" compress -w 11 -l 4 "$dir/plain.mf4" "$dir/plain.mfc"
  "$build/tm_container" encrypt -p "$bench_password" --iv "$bench_iv" --salt "$bench_salt" \
    "$dir/plain.mf4" "$dir/plain.mfe"
  "$build/tm_container" encrypt -p "$bench_password" --iv "$bench_iv" --salt "$bench_salt" \
    "$dir/plain.mfc" "$dir/plain.mfm"
  "$build/tm_benchgen" -o "$dir/small" --files "$small_files" -n "$small_frames" -s "$seed"
  "$build/tm_benchgen" -o "$dir/groups64.mf4" -n "$frames" -g 64 -s "$seed"
  printf '{\n  "default": "%s"\n}\n' "$bench_password" >"$dir/passwords.json"
  echo "$key" >"$dir/stamp"
}
