# The figures whose meaning depends on the machine, each measured next to a
# physical reference of the same run: plain to TRC 2.1 against dd writing as
# many bytes (zeros) into the same folder and against dd copying the trace
# there, decryption against `openssl speed`, a folder of files at -j 1 and
# -j 2 against the number of cores, the read window (-b) against the default,
# and the peak memory of a large file.
# Sourced by scripts/bench after measure.sh (run_once, median).
#
#   folder/     200 logs: a third compressed, a third encrypted (1,000 rounds)
#   large.mf4   LARGE_FRAMES events in 4 data groups (about 1 GB by default)

prepare_reference_inputs() {
  local root=$1 build=$2 dir=$3 seed=$4 large_frames=$5
  local key i
  key=$(inputs_key "$root" "$seed" "$large_frames" 200 10000)
  if [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$key" ]; then
    echo "reference inputs: up to date in $dir"
    return 0
  fi
  echo "reference inputs: generating into $dir (seed $seed, $large_frames frames in the large file)"
  rm -rf "$dir"
  mkdir -p "$dir/folder"
  "$build/tm_benchgen" -o "$dir/generated" --files 200 -n 10000 -s "$seed"
  i=0
  for log in "$dir"/generated/*; do
    local base
    base=$(basename "$log" .mf4)
    case $((i % 3)) in
      0) mv "$log" "$dir/folder/$base.mf4" ;;
      1) "$build/tm_container" compress -w 11 -l 4 "$log" "$dir/folder/$base.mfc" && rm "$log" ;;
      2) "$build/tm_container" encrypt -p "$bench_password" -i 1000 "$log" "$dir/folder/$base.mfe" && rm "$log" ;;
    esac
    i=$((i + 1))
  done
  rmdir "$dir/generated"
  "$build/tm_benchgen" -o "$dir/large.mf4" -n "$large_frames" -g 4 -s "$seed"
  printf '{\n  "default": "%s"\n}\n' "$bench_password" >"$dir/passwords.json"
  echo "$key" >"$dir/stamp"
}

# Wall seconds of writing BYTES into FOLDER with dd in 64 KiB blocks.
dd_seconds() {
  local bytes=$1 folder=$2 start end
  sync
  start=$EPOCHREALTIME
  dd if=/dev/zero of="$folder/dd.out" bs=64K count=$(((bytes + 65535) / 65536)) status=none
  end=$EPOCHREALTIME
  rm -f "$folder/dd.out"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

# Wall seconds of dd copying FILE into FOLDER in 64 KiB blocks: the trace's
# own bytes, read from the page cache, where dd_seconds writes zeros.
dd_copy_seconds() {
  local file=$1 folder=$2 start end
  sync
  start=$EPOCHREALTIME
  dd if="$file" of="$folder/dd.out" bs=64K status=none
  end=$EPOCHREALTIME
  rm -f "$folder/dd.out"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }'
}

# Median wall seconds of converter runs that differ only in a few options,
# taken in turn RUNS times (after a warm-up of each), so that the machine's
# slow and quick spells fall on all of them alike. Each variant is a string of
# options split on blanks (one empty variant: RUNS runs of the same command);
# the arguments after -- are common to all. The outputs stay until the last
# run, as in measure_case. Prints the medians in the variants' order.
alternated_medians() {
  local bin=$1 out=$2 runs=$3 i k wall rss cpu
  shift 3
  local variants=() walls=() medians=()
  while [ "$1" != -- ]; do
    variants+=("$1")
    shift
  done
  shift
  rm -rf "$out"
  for ((k = 0; k < ${#variants[@]}; k++)); do
    # shellcheck disable=SC2086 # a variant's options are split on purpose
    run_once "$bin" "$out/warm-up$k" "$out/log" ${variants[k]} "$@" >/dev/null || return 1
  done
  for ((i = 0; i < runs; i++)); do
    for ((k = 0; k < ${#variants[@]}; k++)); do
      sync
      # shellcheck disable=SC2086
      read -r wall rss cpu < <(run_once "$bin" "$out/$k-$i" "$out/log" ${variants[k]} "$@") || return 1
      walls[k]+="$wall "
    done
  done
  rm -rf "$out"
  for ((k = 0; k < ${#variants[@]}; k++)); do
    # shellcheck disable=SC2086
    medians+=("$(median ${walls[k]})")
  done
  echo "${medians[@]}"
}

# Peak resident memory of one run, in KiB: all of it (file pages of the mapped
# input included, which the kernel can reclaim) and the anonymous part
# sampled every 20 ms.
peak_memory() {
  local bin=$1 out=$2
  shift 2
  mkdir -p "$out"
  /usr/bin/time -f '%M' -o "$out.rss" "$bin" --verbosity=2 -O "$out" "$@" 2>"$out.log" &
  local timer=$! anon=0 pid now
  sleep 0.05
  # The converter may end between any two reads of /proc: a read that fails
  # then ends the sampling, not the suite (which runs with set -e).
  pid=$(cut -d' ' -f1 "/proc/$timer/task/$timer/children" 2>/dev/null) || pid=""
  while [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; do
    now=$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
    [ -n "$now" ] && [ "$now" -gt "$anon" ] && anon=$now
    sleep 0.02
  done
  wait "$timer"
  echo "$(cat "$out.rss") $anon"
}

# measure_references BUILD BIN DIR OUT RUNS PLAIN_INPUT
measure_references() {
  local build=$1 bin=$2 dir=$3 out=$4 runs=$5 plain=$6
  local pw=(-p "$dir/passwords.json") table=$(dirname "$out")/references.md
  mkdir -p "$out"

  # Plain to TRC 2.1 and dd, alternated, into the same folder.
  local i wall rss cpu trace_size tm=() dds=() copies=()
  run_once "$bin" "$out/warm-up" "$out/log" "$plain" >/dev/null || return 1
  trace_size=$(trace_bytes "$out/warm-up")
  for ((i = 0; i < runs; i++)); do
    sync
    read -r wall rss cpu < <(run_once "$bin" "$out/p$i" "$out/log" "$plain") || return 1
    tm+=("$wall")
    dds+=("$(dd_seconds "$trace_size" "$out")")
    copies+=("$(dd_copy_seconds "$(find "$out/p$i" -name '*.trc' | head -1)" "$out")")
  done
  local tm_s dd_s copy_s
  tm_s=$(median "${tm[@]}")
  dd_s=$(median "${dds[@]}")
  copy_s=$(median "${copies[@]}")

  # Decryption in memory (the micro-benchmark) against the cipher alone.
  local decrypt_mbs="" openssl_mbs=""
  if [ -x "$build/tracemill_bench" ]; then
    decrypt_mbs=$("$build/tracemill_bench" --benchmark_filter='^BM_DecryptInPlace$' --benchmark_format=csv 2>/dev/null |
      awk -F, '/^"BM_DecryptInPlace"/ { printf "%.0f\n", $6 / 1e6 }')
  fi
  openssl_mbs=$(openssl speed -decrypt -evp aes-256-gcm -seconds 1 -bytes 65536 2>/dev/null |
    awk '/^AES-256-GCM/ { sub(/k$/, "", $2); printf "%.0f\n", $2 / 1000 }')

  # The folder at -j 1 and -j 2, and -j 1..8 on as many cores as there are, up to j.
  local cores j1 j2 scaling="" j list
  cores=$(nproc)
  read -r j1 j2 < <(alternated_medians "$bin" "$out/j" "$runs" "-j 1" "-j 2" -- "${pw[@]}" "$dir/folder") || return 1
  for j in 1 2 3 4 5 6 7 8; do
    list=0-$(((j < cores ? j : cores) - 1))
    printf '#!/bin/sh\nexec taskset -c %s %s "$@"\n' "$list" "$bin" >"$out/pinned"
    chmod +x "$out/pinned"
    wall=$(alternated_medians "$out/pinned" "$out/t" 3 "" -- -j "$j" "${pw[@]}" "$dir/folder") || return 1
    scaling+="$j:$wall "
  done

  # The read window against the default.
  local b_default b_small b_medium
  read -r b_default b_small b_medium < <(alternated_medians "$bin" "$out/b" "$runs" "" "-b 65536" "-b 1048576" -- "$plain") ||
    return 1

  # Peak memory of the large file.
  local large_size peak anon
  large_size=$(stat -c %s "$dir/large.mf4")
  read -r peak anon < <(peak_memory "$bin" "$out/large" "$dir/large.mf4")
  rm -rf "${out:?}/large"

  {
    echo "| figure | measured | physical reference | ratio |"
    echo "|---|---:|---:|---:|"
    awk -v t="$tm_s" -v d="$dd_s" -v s="$trace_size" 'BEGIN {
      printf "| plain to TRC 2.1 (%.0f MB of trace) | %.3f s | dd bs=64K, same bytes, same folder: %.3f s | %.2fx dd |\n",
             s / 1e6, t, d, t / d }'
    awk -v t="$tm_s" -v d="$copy_s" 'BEGIN {
      printf "| the same | %.3f s | dd bs=64K copying the trace into the same folder: %.3f s | %.2fx dd |\n", t, d, t / d }'
    if [ -n "$decrypt_mbs" ] && [ -n "$openssl_mbs" ]; then
      awk -v m="$decrypt_mbs" -v o="$openssl_mbs" 'BEGIN {
        printf "| AES-256-GCM decryption in place | %d MB/s | openssl speed -decrypt, 64 KiB blocks: %d MB/s | %.2f |\n", m, o, m / o }'
    fi
    awk -v a="$j1" -v b="$j2" -v c="$cores" 'BEGIN {
      printf "| 200 mixed files, -j 1 / -j 2 | %.3f s / %.3f s | %d cores (ideal speed-up %d) | %.2fx |\n",
             a, b, c, (c < 2 ? c : 2), a / b }'
    awk -v list="$scaling" -v c="$cores" 'BEGIN {
      n = split(list, runs, " "); split(runs[1], first, ":")
      text = ""
      for (i = 1; i <= n; i++) { split(runs[i], r, ":"); text = text sprintf("%s%s: %.2fx", i > 1 ? ", " : "", r[1], first[2] / r[2]) }
      printf "| the same folder, -j N on min(N, cores) cores | %s | %d cores | - |\n", text, c }'
    awk -v d="$b_default" -v s="$b_small" -v m="$b_medium" 'BEGIN {
      printf "| -b 65536 / -b 1048576 (plain) | %.3f s / %.3f s | default window: %.3f s | %.2fx / %.2fx |\n",
             s, m, d, s / d, m / d }'
    awk -v p="$peak" -v a="$anon" -v s="$large_size" 'BEGIN {
      printf "| peak memory, %.2f GB plain file | %.0f MiB (%.0f MiB anonymous) | file size %.0f MiB | %.2f (%.3f anonymous) |\n",
             s / 1e9, p / 1024, a / 1024, s / 1048576, p * 1024 / s, a * 1024 / s }'
  } >"$table"
  rm -rf "$out"
  cat "$table"
}
