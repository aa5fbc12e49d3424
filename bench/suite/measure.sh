# Runs the converter on one input several times and appends one result row.
# Sourced by scripts/bench.
#
# Each run writes into a fresh output folder on the local disk; the folders
# are removed only after the last run of a case, because creating thousands of
# files right after deleting as many makes the file system search for free
# inodes, a cost that belongs to the benchmark, not to the converter. Wall time is
# taken around the child with the shell's microsecond clock; peak resident
# memory comes from /usr/bin/time (the child's getrusage maximum). One warm-up
# run is not counted. Dirty trace data of earlier runs is written back (sync)
# before each measured run.
#
# Row (tab-separated): name format frames input_bytes output_bytes
#                      median_wall_s max_rss_kb budget_bytes files median_cpu_s
# CPU time (user + system) is given next to wall time because it is the
# steadier figure on a machine that is busy with other work.

# Median of the numbers given as arguments.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) printf "%.6f\n", v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Bytes of all output files under a folder.
trace_bytes() {
  find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%d\n", s }'
}

# The converter's options for a FORMAT of the suite: a trace version (-f) or another output format (-F).
format_options() {
  case $1 in
    version*) echo "-f $1" ;;
    *) echo "-F $1" ;;
  esac
}

# One converter run: prints "wall_seconds max_rss_kb cpu_seconds"; stops the suite when the
# converter fails or complains, since the numbers would not mean anything.
run_once() {
  local bin=$1 out=$2 log=$3
  shift 3
  mkdir -p "$out"
  local start end status
  start=$EPOCHREALTIME
  status=0
  /usr/bin/time -f '%M %U %S' -o "$out.rss" "$bin" --verbosity=2 -O "$out" "$@" 2>"$log" || status=$?
  end=$EPOCHREALTIME
  if [ "$status" -ne 0 ] || grep -q . "$log"; then
    echo "bench: tracemill $* exited with $status:" >&2
    head -n 20 "$log" >&2
    return 1
  fi
  awk -v s="$start" -v e="$end" '{ printf "%.6f %d %.2f\n", e - s, $1, $2 + $3 }' "$out.rss"
}

# measure_case NAME FORMAT FRAMES BUDGET FILES RUNS BIN OUTDIR ROWS -- ARGS...
measure_case() {
  local name=$1 format=$2 frames=$3 budget=$4 files=$5 runs=$6 bin=$7 out=$8 rows=$9
  shift 10
  local input_bytes
  input_bytes=$(find -L "${@: -1}" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%d\n", s }')
  rm -rf "$out"
  mkdir -p "$out"
  local chosen
  read -r -a chosen <<<"$(format_options "$format")"
  run_once "$bin" "$out/warm-up" "$out/log" "${chosen[@]}" "$@" >/dev/null || return 1
  local walls=() cpus=() rss_max=0 wall rss cpu i
  for ((i = 0; i < runs; i++)); do
    # The previous run's trace is still being written back to the disk; let
    # that finish first, so that it does not compete with the run measured.
    sync
    read -r wall rss cpu < <(run_once "$bin" "$out/$i" "$out/log" "${chosen[@]}" "$@") || return 1
    [ -n "$cpu" ] || return 1
    walls+=("$wall")
    cpus+=("$cpu")
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
  done
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$format" "$frames" "$input_bytes" \
    "$(trace_bytes "$out/0")" "$(median "${walls[@]}")" "$rss_max" "$budget" "$files" "$(median "${cpus[@]}")" >>"$rows"
  printf '  %-22s %-9s median %ss over %d runs\n' "$name" "$format" "$(median "${walls[@]}")" "$runs"
  rm -rf "$out"
}
