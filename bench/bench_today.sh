#!/usr/bin/env bash
# Joins of today's pictures against libvips, in RUNS pairs run one after the
# other (median and slowest time, largest peak memory of each side):
#  - two 45-megapixel photographs, 8192 x 5464 JPEGs sharing 3384 columns,
#    source 2 fading into source 1 (vips merge: a feathered seam);
#  - an A3 page from two 600-dpi A4 scans, 4961 x 7016 each, joined 9722 x 7016
#    (a 200-column overlap).
# Ratios: time ours/vips (below 1 means Tessara is faster), memory vips/ours
# (above 1 means Tessara needs less).
# With BENCH_PREVIEW set to the bench_preview program, the desktop program's
# way from opening both pictures to the Align Window's preview is timed too.
#   bench/bench_today.sh TESSARA_JOIN [RUNS]
set -euo pipefail
join=$1
runs=${2:-3}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
here=$(cd "$(dirname "$0")/.." && pwd)

measure() {  # prints "seconds peak-MB"
  /usr/bin/time -f "%e %M" -o "$dir/time.txt" bash -c "$1" >/dev/null 2>&1 || echo "failed: $1" >&2
  awk '{printf "%.2f %.0f\n", $1, $2 / 1024}' "$dir/time.txt"
}
stats() {  # median and slowest time, largest peak memory
  sort -n "$1" | awk '{t[NR]=$1; m[NR]=$2} END {n=NR; mid=int((n+1)/2); max=0; mm=0;
    for(i=1;i<=n;i++){if(t[i]>max)max=t[i]; if(m[i]>mm)mm=m[i]}
    printf "%.2f %.2f %.0f\n", t[mid], max, mm}'
}

# name, width, height, columns of source 2's offset, photo to enlarge
one() {
  local name=$1 w=$2 h=$3 off=$4 photo=$5
  convert "$here/tests/data/photos/$photo" -resize "$((w + off))x${h}!" -quality 92 "$dir/wide.jpg"
  convert "$dir/wide.jpg" -crop "${w}x${h}+0+0" +repage -quality 90 "$dir/l.jpg"
  convert "$dir/wide.jpg" -crop "${w}x${h}+${off}+0" +repage -quality 90 "$dir/r.jpg"
  local ours="'$join' --quiet --offset $off,0 --fade2 '$dir/l.jpg' '$dir/r.jpg' '$dir/ours.jpg'"
  local vips="vips merge '$dir/l.jpg' '$dir/r.jpg' '$dir/vips.jpg[Q=90]' horizontal -- -$off 0"
  : >"$dir/ours.txt"
  : >"$dir/vips.txt"
  for _ in $(seq "$runs"); do
    measure "$ours" >>"$dir/ours.txt"
    measure "$vips" >>"$dir/vips.txt"
  done
  read -r t_ours t_ours_max m_ours < <(stats "$dir/ours.txt")
  read -r t_vips t_vips_max m_vips < <(stats "$dir/vips.txt")
  echo "$name: two ${w} x ${h} JPEGs, offset $off,0, joined $((w + off)) x $h; $runs paired runs"
  echo "  tessara-join   ${t_ours} s  slowest ${t_ours_max} s  ${m_ours} MB"
  echo "  libvips        ${t_vips} s  slowest ${t_vips_max} s  ${m_vips} MB"
  echo "  time ours/vips $(awk "BEGIN{printf \"%.2f\", $t_ours/$t_vips}")  memory vips/ours $(awk "BEGIN{printf \"%.2f\", $m_vips/$m_ours}")"
  if [ -n "${BENCH_PREVIEW:-}" ]; then
    echo "  in the program, from opening both to the Align Window's preview:"
    "$BENCH_PREVIEW" "$dir/l.jpg" "$dir/r.jpg"
  fi
}

one "45 MP photographs" 8192 5464 4808 astronaut.png
one "A3 from two A4 scans" 4961 7016 4761 coffee.png
