#!/usr/bin/env bash
# The Blend rule against enblend on the same placed pictures: two 6000 x 4000
# pieces of one photograph overlapping by a fifth, the second one 20 % brighter
# (as a camera's automatic exposure leaves it). tessara-join gets them as the
# camera gives them, JPEG, with the offset, and writes JPEG; enblend gets the
# same pixels as uncompressed TIFF with their positions and an opaque alpha
# channel, as Hugin's remapper hands them over, and writes TIFF (the cheapest
# files for it to read and write).
# RUNS paired runs (default 3); reports each tool's median wall time and
# processor time (user + system) and its largest peak memory, the ratios ours/enblend, and
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

. "$here/bench/bench_common.sh"

cut_pair "$here/tests/data/photos/astronaut.png" "$w" "$h" "$off" "$dir/a.jpg" "$dir/b.jpg" 92 "-evaluate multiply 1.2"
convert "$dir/a.jpg" -alpha opaque -density 100 -units PixelsPerInch "$dir/ea.tif"
convert "$dir/b.jpg" -alpha opaque -density 100 -units PixelsPerInch -page "+${off}+0" "$dir/eb.tif"

ours_cmd="'$join' --quiet --merge blend --offset $off,0 '$dir/a.jpg' '$dir/b.jpg' '$dir/ours.jpg'"
enblend_cmd="enblend -o '$dir/enblend.tif' '$dir/ea.tif' '$dir/eb.tif'"
: >"$dir/ours.txt"
: >"$dir/enblend.txt"
for _ in $(seq "$runs"); do
  measure "$ours_cmd" >>"$dir/ours.txt"
  measure "$enblend_cmd" >>"$dir/enblend.txt"
done
# Median wall and processor time, largest peak memory, of one tool's runs.
summary() { echo "$(cut -d' ' -f1 "$1" | median) $(cut -d' ' -f2 "$1" | median) $(cut -d' ' -f3 "$1" | largest)"; }
read -r t_o c_o m_o < <(summary "$dir/ours.txt")
read -r t_e c_e m_e < <(summary "$dir/enblend.txt")
target_mb=$(awk "BEGIN{printf \"%.0f\", ($w + $off) * $h * 3 / 1048576}")
ratio() { awk "BEGIN{printf \"%.3f\", $1 / $2}"; }
echo "$runs paired runs, $((w + off)) x $h Target ($target_mb MB); median times, largest peak memory"
echo "tessara-join --merge blend  ${t_o} s wall  ${c_o} s processor  ${m_o} MB"
echo "enblend                     ${t_e} s wall  ${c_e} s processor  ${m_e} MB"
echo "ours/enblend: wall $(ratio "$t_o" "$t_e")  processor $(ratio "$c_o" "$c_e")  memory $(ratio "$m_o" "$m_e")"
echo "our peak memory / Target: $(ratio "$m_o" "$target_mb")"
