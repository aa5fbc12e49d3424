# Turns the result rows of measure.sh into one Markdown table plus the derived
# figures the targets are stated in (files per second, the cost of 64 data
# groups per frame relative to 4, each output format's frame rate relative to
# TRC 2.1 on the same input). Wall and CPU seconds are medians; the rates are
# taken from the median wall time. MB is 10^6 bytes, MiB 2^20.
BEGIN {
  FS = "\t"
  print "| input | output | frames | wall s | cpu s | frames/s | input MB/s | output MB/s | peak RSS MiB | RSS budget MiB |"
  print "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
}
{
  name = $1; format = ($2 == "version1" ? "1.1" : $2 == "version2" ? "2.1" : $2); frames = $3
  wall = $6
  shown = (format == "1.1" || format == "2.1") ? "TRC " format : format
  printf "| %s | %s | %d | %.3f | %.2f | %.0f | %.1f | %.1f | %.1f | %.1f |\n", name, shown, frames, wall, $10,
         frames / wall, $4 / wall / 1e6, $5 / wall / 1e6, $7 / 1024, $8 / 1048576
  ns_per_frame[name, format] = wall / frames * 1e9
  cpu_per_frame[name, format] = $10 / frames
  if ($9 > 1) files_per_s[format] = $9 / wall
  if (!(format in formats)) order[++count] = format
  formats[format] = 1
  if (!(name in names)) name_order[++name_count] = name
  names[name] = 1
}
END {
  print ""
  for (i = 1; i <= count; i++) {
    f = order[i]
    label = (f == "1.1" || f == "2.1") ? "TRC " f : f
    if ((f in files_per_s))
      printf "- %s, small files: %.0f files/s\n", label, files_per_s[f]
    if ((("groups64", f) in ns_per_frame) && (("plain", f) in ns_per_frame))
      printf "- %s, 64 data groups vs 4: %.0f vs %.0f ns per frame (ratio %.2f)\n", label,
             ns_per_frame["groups64", f], ns_per_frame["plain", f],
             ns_per_frame["groups64", f] / ns_per_frame["plain", f]
  }
  # Frame rate of each other format as a share of TRC 2.1's (wall; CPU in brackets).
  for (i = 1; i <= count; i++) {
    f = order[i]
    if (f == "1.1" || f == "2.1") continue
    line = ""
    for (j = 1; j <= name_count; j++) {
      n = name_order[j]
      if (!(((n, f) in ns_per_frame) && ((n, "2.1") in ns_per_frame))) continue
      line = line sprintf("%s%s %.0f %% (cpu %.0f %%)", line == "" ? "" : ", ", n,
                          100 * ns_per_frame[n, "2.1"] / ns_per_frame[n, f],
                          cpu_per_frame[n, f] > 0 ? 100 * cpu_per_frame[n, "2.1"] / cpu_per_frame[n, f] : 0)
    }
    if (line != "") printf "- %s frame rate relative to TRC 2.1: %s\n", f, line
  }
}
