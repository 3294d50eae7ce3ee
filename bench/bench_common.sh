# Shared by the benchmark scripts (sourced): the timing of one command and
# the statistics of a column of numbers. The sourcing script sets `dir`, its
# temporary folder.

# Runs a shell command and prints "wall-seconds processor-seconds peak-MB"
# (processor: user + system).
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$dir/time.txt" bash -c "$1" >/dev/null 2>&1 || echo "failed: $1" >&2
  awk '{printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024}' "$dir/time.txt"
}
# The median and the largest of the numbers on standard input.
median() { sort -g | awk '{v[NR]=$1} END {printf "%.2f", v[int((NR+1)/2)]}'; }
largest() { sort -g | tail -1; }

# Two pieces of one photograph enlarged to (WIDTH + OFFSET) x HEIGHT, each
# WIDTH x HEIGHT and OFFSET columns apart, as JPEG:
#   cut_pair PHOTO WIDTH HEIGHT OFFSET FIRST SECOND [QUALITY [SECOND-OPTIONS]]
# SECOND-OPTIONS are ImageMagick options applied to the second piece only.
cut_pair() {
  local photo=$1 w=$2 h=$3 off=$4 first=$5 second=$6 quality=${7:-90} extra=${8:-}
  convert "$photo" -resize "$((w + off))x${h}!" "$dir/wide.ppm"
  convert "$dir/wide.ppm" -crop "${w}x${h}+0+0" +repage -quality "$quality" "$first"
  # shellcheck disable=SC2086
  convert "$dir/wide.ppm" -crop "${w}x${h}+${off}+0" +repage $extra -quality "$quality" "$second"
  rm -f "$dir/wide.ppm"
}
