#!/usr/bin/env bash
# End-to-end join of two 6000 x 4000 JPEG photographs: source 2 turned 1.5
# degrees and scaled by 1034/1024, overlapping source 1 by 30 %, merged by
# Average with source 2 fading, saved as JPEG. The same job by the libvips
# pipeline (similarity, then merge) and by ImageMagick (distort, then two
# composites on a canvas). Prints wall time and peak memory of each, and the
# ratios (above 1 means Tessara is faster or smaller).
#   bench/bench_join.sh TESSARA_JOIN [WIDTH HEIGHT]
set -euo pipefail
join=$1
w=${2:-6000}
h=${3:-4000}
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

read -r t_ours m_ours < <(measure "'$join' --quiet --offset $off,0 --rotate2 1.5 --scale2 1034 --cut-corners2 0 --fade2 '$dir/a.jpg' '$dir/b.jpg' '$dir/ours.jpg'")
echo "tessara-join   ${t_ours} s  ${m_ours} MB"
if command -v vips >/dev/null; then
  read -r t_vips m_vips < <(measure "vips similarity '$dir/b.jpg' '$dir/b2.v' --scale 1.0098 --angle 1.5 --interpolate bilinear && vips merge '$dir/a.jpg' '$dir/b2.v' '$dir/vips.jpg[Q=90]' horizontal -- -$off 0")
  echo "libvips        ${t_vips} s  ${m_vips} MB   time ratio vips/ours $(awk "BEGIN{printf \"%.2f\", $t_vips/$t_ours}")  memory ratio $(awk "BEGIN{printf \"%.2f\", $m_vips/$m_ours}")"
fi
if command -v convert >/dev/null; then
  read -r t_im m_im < <(measure "convert -size $((w + off))x$h xc:gray '$dir/a.jpg' -geometry +0+0 -composite \\( '$dir/b.jpg' -virtual-pixel black +distort SRT 1.0098,1.5 \\) -geometry +$off+0 -composite -quality 90 '$dir/im.jpg'")
  echo "ImageMagick    ${t_im} s  ${m_im} MB   time ratio im/ours $(awk "BEGIN{printf \"%.2f\", $t_im/$t_ours}")  memory ratio $(awk "BEGIN{printf \"%.2f\", $m_im/$m_ours}")"
fi
