#!/usr/bin/env bash
# The Blend rule against enblend on the same placed pictures: two 6000 x 4000
# pieces of one photograph overlapping by a fifth, the second one 20 % brighter
# (as a camera's automatic exposure leaves it). tessara-join gets them as the
# camera gives them, JPEG, with the offset, and writes JPEG; enblend gets the
# same pixels as uncompressed TIFF with their positions and an opaque alpha
# channel, as Hugin's remapper hands them over, and writes TIFF (the cheapest
# files for it to read and write).
# RUNS paired runs (default 3); reports each tool's median wall time,
# processor time (user + system) and peak memory, the ratios ours/enblend, and
# our peak memory against the Target's size.
#   bench/bench_blend.sh TESSARA_JOIN [WIDTH HEIGHT [RUNS]]
set -euo pipefail
join=$1
w=${2:-6000}
h=${3:-4000}
runs=${4:-3}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
here=$(cd "$(dirname "$0")/.." && pwd)
off=$((w * 8 / 10))

convert "$here/tests/data/photos/astronaut.png" -resize "$((w + off))x${h}!" "$dir/wide.ppm"
convert "$dir/wide.ppm" -crop "${w}x${h}+0+0" +repage -quality 92 "$dir/a.jpg"
convert "$dir/wide.ppm" -crop "${w}x${h}+${off}+0" +repage -evaluate multiply 1.2 -quality 92 "$dir/b.jpg"
rm -f "$dir/wide.ppm"
convert "$dir/a.jpg" -alpha opaque -density 100 -units PixelsPerInch "$dir/ea.tif"
convert "$dir/b.jpg" -alpha opaque -density 100 -units PixelsPerInch -page "+${off}+0" "$dir/eb.tif"

measure() {  # prints "wall-seconds processor-seconds peak-MB"
  /usr/bin/time -f "%e %U %S %M" -o "$dir/time.txt" bash -c "$1" >/dev/null 2>&1
  awk '{printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024}' "$dir/time.txt"
}
ours_cmd="'$join' --quiet --merge blend --offset $off,0 '$dir/a.jpg' '$dir/b.jpg' '$dir/ours.jpg'"
enblend_cmd="enblend -o '$dir/enblend.tif' '$dir/ea.tif' '$dir/eb.tif'"
: >"$dir/ours.txt"
: >"$dir/enblend.txt"
for _ in $(seq "$runs"); do
  measure "$ours_cmd" >>"$dir/ours.txt"
  measure "$enblend_cmd" >>"$dir/enblend.txt"
done
median() {  # column $2 of file $1
  sort -n -k"$2" "$1" | awk -v k="$2" '{v[NR]=$k} END {print v[int((NR+1)/2)]}'
}
read -r t_o c_o m_o < <(echo "$(median "$dir/ours.txt" 1) $(median "$dir/ours.txt" 2) $(median "$dir/ours.txt" 3)")
read -r t_e c_e m_e < <(echo "$(median "$dir/enblend.txt" 1) $(median "$dir/enblend.txt" 2) $(median "$dir/enblend.txt" 3)")
target_mb=$(awk "BEGIN{printf \"%.0f\", ($w + $off) * $h * 3 / 1048576}")
echo "$runs paired runs, $((w + off)) x $h Target ($target_mb MB), medians"
echo "tessara-join --merge blend  ${t_o} s wall  ${c_o} s processor  ${m_o} MB"
echo "enblend                     ${t_e} s wall  ${c_e} s processor  ${m_e} MB"
echo "ours/enblend: wall $(awk "BEGIN{printf \"%.3f\", $t_o/$t_e}")  processor $(awk "BEGIN{printf \"%.3f\", $c_o/$c_e}")  memory $(awk "BEGIN{printf \"%.2f\", $m_o/$m_e}")"
echo "our peak memory / Target: $(awk "BEGIN{printf \"%.2f\", $m_o/$target_mb}")"
