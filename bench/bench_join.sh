#!/usr/bin/env bash
# Whole joins against libvips, in RUNS pairs (ours, then vips, one after the
# other), for two jobs:
#  - the bench job: two WIDTH x HEIGHT JPEG photographs (6000 x 4000 unless
#    given), source 2 turned 1.5 degrees and scaled by 1034/1024, overlapping
#    source 1 by 30 %, merged by Average with source 2 fading, saved as JPEG
#    (vips: similarity, then merge);
#  - a 45-megapixel join: two 8192 x 5464 JPEGs at offset 4808,0, source 2
#    fading into source 1 (vips merge: a feathered seam).
# Each side is reported by its median wall time, median processor time
# (user + system) and largest peak memory; the ratios ours/vips are the
# medians of the RUNS paired ratios (below 1 means Tessara is faster or
# smaller). The jobs run first on the memory the machine has (fresh pages on a
# freshly started machine), then, unless BENCH_REUSED=0, again after a
# program has touched most of the available memory once, so that every page
# the jobs get has been used before. ImageMagick runs the bench job once. With
# BENCH_CODECS set to the bench_codecs program, the Target is also saved as
# PNG by us and by `vips pngsave`.
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

. "$here/bench/bench_common.sh"

# Two overlapping pieces of one photograph, enlarged to size.
cut_pair "$here/tests/data/photos/astronaut.png" "$w" "$h" "$off" "$dir/a.jpg" "$dir/b.jpg"
convert "$here/tests/data/photos/astronaut.png" -resize "12999x5464!" -quality 92 "$dir/wide.jpg"
convert "$dir/wide.jpg" -crop "8192x5464+0+0" +repage -quality 90 "$dir/l.jpg"
convert "$dir/wide.jpg" -crop "8192x5464+4808+0" +repage -quality 90 "$dir/r.jpg"
rm "$dir/wide.jpg"


have_vips=0
command -v vips >/dev/null && have_vips=1

# name, our command, vips' command
job() {
  local name=$1 ours=$2 vips=$3
  : >"$dir/ours.txt"
  : >"$dir/vips.txt"
  for _ in $(seq "$runs"); do
    measure "$ours" >>"$dir/ours.txt"
    [ $have_vips = 1 ] && measure "$vips" >>"$dir/vips.txt"
  done
  echo "$name; $runs paired runs (medians; largest peak memory)"
  echo "  tessara-join  wall $(cut -d' ' -f1 "$dir/ours.txt" | median) s (slowest $(cut -d' ' -f1 "$dir/ours.txt" | largest) s)  processor $(cut -d' ' -f2 "$dir/ours.txt" | median) s  $(cut -d' ' -f3 "$dir/ours.txt" | largest) MB"
  [ $have_vips = 1 ] || return 0
  echo "  libvips       wall $(cut -d' ' -f1 "$dir/vips.txt" | median) s (slowest $(cut -d' ' -f1 "$dir/vips.txt" | largest) s)  processor $(cut -d' ' -f2 "$dir/vips.txt" | median) s  $(cut -d' ' -f3 "$dir/vips.txt" | largest) MB"
  paste -d' ' "$dir/ours.txt" "$dir/vips.txt" >"$dir/pairs.txt"
  echo "  ours/vips     wall $(awk '{print $1 / $4}' "$dir/pairs.txt" | median)  processor $(awk '{print $2 / $5}' "$dir/pairs.txt" | median)  peak memory $(awk "BEGIN{printf \"%.2f\", $(cut -d' ' -f3 "$dir/ours.txt" | largest) / $(cut -d' ' -f3 "$dir/vips.txt" | largest)}")"
}

all_jobs() {
  job "bench job: two ${w} x ${h} JPEGs, source 2 turned 1.5 degrees and scaled 1034, offset $off,0, fade" \
    "'$join' --quiet --offset $off,0 --rotate2 1.5 --scale2 1034 --cut-corners2 0 --fade2 '$dir/a.jpg' '$dir/b.jpg' '$dir/ours.jpg'" \
    "vips similarity '$dir/b.jpg' '$dir/b2.v' --scale 1.0098 --angle 1.5 --interpolate bilinear && vips merge '$dir/a.jpg' '$dir/b2.v' '$dir/vips.jpg[Q=90]' horizontal -- -$off 0"
  job "45 MP job: two 8192 x 5464 JPEGs, offset 4808,0, fade" \
    "'$join' --quiet --offset 4808,0 --fade2 '$dir/l.jpg' '$dir/r.jpg' '$dir/ours45.jpg'" \
    "vips merge '$dir/l.jpg' '$dir/r.jpg' '$dir/vips45.jpg[Q=90]' horizontal -- -4808 0"
}

echo "== memory as the machine has it (fresh pages on a freshly started machine)"
all_jobs
if [ "${BENCH_REUSED:-1}" != 0 ]; then
  # Most of the available memory touched once and given back: from now on the
  # pages the jobs get have all been used before.
  python3 - <<'PY'
import mmap
avail = 0
for line in open("/proc/meminfo"):
    if line.startswith("MemAvailable:"):
        avail = int(line.split()[1]) * 1024
held, chunk = [], 1 << 28
for _ in range(int(avail * 0.75) // chunk):
    m = mmap.mmap(-1, chunk)
    m[::4096] = b"\1" * (chunk // 4096)
    held.append(m)
print("touched %d MB once" % (len(held) * chunk >> 20))
PY
  echo "== reused memory (every page used before)"
  all_jobs
fi

if command -v convert >/dev/null; then
  read -r t_im _ m_im < <(measure "convert -size $((w + off))x$h xc:gray '$dir/a.jpg' -geometry +0+0 -composite \\( '$dir/b.jpg' -virtual-pixel black +distort SRT 1.0098,1.5 \\) -geometry +$off+0 -composite -quality 90 '$dir/im.jpg'")
  echo "ImageMagick, bench job once: ${t_im} s  ${m_im} MB"
fi
if [ -n "${BENCH_CODECS:-}" ] && [ $have_vips = 1 ]; then
  "$join" --quiet --offset $off,0 --rotate2 1.5 --scale2 1034 --cut-corners2 0 --fade2 "$dir/a.jpg" "$dir/b.jpg" "$dir/target.bmp"
  "$BENCH_CODECS" --png-save "$dir/target.bmp" "$runs"
fi
