#!/usr/bin/env bash
# End-to-end join of two 6000 x 4000 JPEG photographs: source 2 turned 1.5
# degrees and scaled by 1034/1024, overlapping source 1 by 30 %, merged by
# Average with source 2 fading, saved as JPEG. The same job by the libvips
# pipeline (similarity, then merge) and by ImageMagick (distort, then two
# composites on a canvas). Tessara and libvips run in RUNS pairs, one after the
# other, and each is reported by its median and slowest run; ImageMagick runs
# once. Prints wall time and peak memory, and the ratios: ours/vips for time
# (below 1 means Tessara is faster), the others above 1 when Tessara is faster
# or smaller. With BENCH_CODECS set to the bench_codecs program, the
# Target is also saved as PNG by us and by `vips pngsave`.
#   bench/bench_join.sh TESSARA_JOIN [WIDTH HEIGHT [RUNS]]
set -euo pipefail
join=$1
w=${2:-6000}
h=${3:-4000}
runs=${4:-7}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
here=$(cd "$(dirname "$0")/.." && pwd)
off=$((w * 7 / 10))

# Two overlapping pieces of one photograph, enlarged to size.
convert "$here/tests/data/photos/astronaut.png" -resize "$((w + off))x${h}!" "$dir/wide.ppm"
convert "$dir/wide.ppm" -crop "${w}x${h}+0+0" +repage -quality 90 "$dir/a.jpg"
convert "$dir/wide.ppm" -crop "${w}x${h}+${off}+0" +repage -quality 90 "$dir/b.jpg"

measure() {  # prints "seconds peak-MB"
  /usr/bin/time -f "%e %M" -o "$dir/time.txt" bash -c "$1" >/dev/null 2>&1
  awk '{printf "%.2f %.0f\n", $1, $2 / 1024}' "$dir/time.txt"
}

ours_cmd="'$join' --quiet --offset $off,0 --rotate2 1.5 --scale2 1034 --cut-corners2 0 --fade2 '$dir/a.jpg' '$dir/b.jpg' '$dir/ours.jpg'"
vips_cmd="vips similarity '$dir/b.jpg' '$dir/b2.v' --scale 1.0098 --angle 1.5 --interpolate bilinear && vips merge '$dir/a.jpg' '$dir/b2.v' '$dir/vips.jpg[Q=90]' horizontal -- -$off 0"
have_vips=0
command -v vips >/dev/null && have_vips=1
: >"$dir/ours.txt"
: >"$dir/vips.txt"
for _ in $(seq "$runs"); do
  measure "$ours_cmd" >>"$dir/ours.txt"
  [ $have_vips = 1 ] && measure "$vips_cmd" >>"$dir/vips.txt"
done
stats() {  # median and slowest time, median and largest peak memory
  sort -n "$1" | awk '{t[NR]=$1; m[NR]=$2} END {n=NR; mid=int((n+1)/2); max=0; mm=0;
    for(i=1;i<=n;i++){if(t[i]>max)max=t[i]; if(m[i]>mm)mm=m[i]}
    printf "%.2f %.2f %.0f\n", t[mid], max, mm}'
}
read -r t_ours t_ours_max m_ours < <(stats "$dir/ours.txt")
echo "$runs paired runs (median, slowest, largest peak memory)"
echo "tessara-join   ${t_ours} s  slowest ${t_ours_max} s ($(awk "BEGIN{printf \"%.2f\", $t_ours_max/$t_ours}") x median)  ${m_ours} MB"
if [ $have_vips = 1 ]; then
  read -r t_vips t_vips_max m_vips < <(stats "$dir/vips.txt")
  echo "libvips        ${t_vips} s  slowest ${t_vips_max} s  ${m_vips} MB   time ours/vips $(awk "BEGIN{printf \"%.2f\", $t_ours/$t_vips}")  memory ratio vips/ours $(awk "BEGIN{printf \"%.2f\", $m_vips/$m_ours}")"
fi
if command -v convert >/dev/null; then
  read -r t_im m_im < <(measure "convert -size $((w + off))x$h xc:gray '$dir/a.jpg' -geometry +0+0 -composite \\( '$dir/b.jpg' -virtual-pixel black +distort SRT 1.0098,1.5 \\) -geometry +$off+0 -composite -quality 90 '$dir/im.jpg'")
  echo "ImageMagick    ${t_im} s  ${m_im} MB   time ratio im/ours $(awk "BEGIN{printf \"%.2f\", $t_im/$t_ours}")  memory ratio $(awk "BEGIN{printf \"%.2f\", $m_im/$m_ours}")"
fi
if [ -n "${BENCH_CODECS:-}" ] && [ $have_vips = 1 ]; then
  "$join" --quiet --offset $off,0 --rotate2 1.5 --scale2 1034 --cut-corners2 0 --fade2 "$dir/a.jpg" "$dir/b.jpg" "$dir/target.bmp"
  "$BENCH_CODECS" --png-save "$dir/target.bmp" "$runs"
fi
