# Turns the result rows of measure.sh into one Markdown table plus the derived
# figures the targets are stated in (files per second, the cost of 64 data
# groups per frame relative to 4). Wall and CPU seconds are medians; the rates
# are taken from the median wall time. MB is 10^6 bytes, MiB 2^20.
BEGIN {
  FS = "\t"
  print "| input | TRC | frames | wall s | cpu s | frames/s | input MB/s | output MB/s | peak RSS MiB | RSS budget MiB |"
  print "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
}
{
  name = $1; format = ($2 == "version1" ? "1.1" : "2.1"); frames = $3
  wall = $6
  printf "| %s | %s | %d | %.3f | %.2f | %.0f | %.1f | %.1f | %.1f | %.1f |\n", name, format, frames, wall, $10,
         frames / wall, $4 / wall / 1e6, $5 / wall / 1e6, $7 / 1024, $8 / 1048576
  ns_per_frame[name, format] = wall / frames * 1e9
  if ($9 > 1) files_per_s[format] = $9 / wall
  formats[format] = 1
}
END {
  print ""
  split("2.1 1.1", order, " ")
  for (i = 1; i <= 2; i++) {
    f = order[i]
    if (!(f in formats)) continue
    if ((f in files_per_s))
      printf "- TRC %s, small files: %.0f files/s\n", f, files_per_s[f]
    if ((("groups64", f) in ns_per_frame) && (("plain", f) in ns_per_frame))
      printf "- TRC %s, 64 data groups vs 4: %.0f vs %.0f ns per frame (ratio %.2f)\n", f,
             ns_per_frame["groups64", f], ns_per_frame["plain", f],
             ns_per_frame["groups64", f] / ns_per_frame["plain", f]
  }
}
