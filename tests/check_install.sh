#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree as
# a user's desktop would meet it: both programs run, the desktop entry and the
# metainfo validate, the icons have their sizes, the manual pages render
# without warnings and tessara-join's covers every option, and the help page
# lies where F1 looks for it, with every screenshot it shows.
#   check_install.sh BUILD_DIR
set -uo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

for f in bin/tessara bin/tessara-join share/applications/tessara.desktop \
         share/metainfo/io.github.tessara.Tessara.metainfo.xml \
         share/icons/hicolor/scalable/apps/tessara.svg share/icons/hicolor/48x48/apps/tessara.png \
         share/icons/hicolor/256x256/apps/tessara.png share/man/man1/tessara.1.gz share/man/man1/tessara-join.1.gz \
         share/doc/tessara/help/tessara.html share/doc/tessara/copyright share/doc/tessara/changelog.gz; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
# The copyright file in Debian's machine-readable format, every name filled in.
copyright=$prefix/share/doc/tessara/copyright
head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
  fail "copyright: no Format line"
grep -q '@[A-Z_]*@' "$copyright" && fail "unreplaced names in the copyright file"

# The programs, without a display.
version=$(grep -m1 -o 'Tessara VERSION [0-9.]*' "$(dirname "$0")/../CMakeLists.txt" | cut -d' ' -f3)
for p in tessara tessara-join; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$p" --version 2>&1) || fail "$p --version exits $?"
  [ "$out" = "$p $version" ] || fail "$p --version says '$out'"
done
"$prefix/bin/tessara" --help | grep -q '^Usage: tessara \[SOURCE1 \[SOURCE2\]\]' || fail "tessara --help"

# Desktop entry: valid, runs the installed program with the files, offers the
# six formats to "Open with".
desktop=$prefix/share/applications/tessara.desktop
out=$(desktop-file-validate "$desktop" 2>&1); [ -z "$out" ] || fail "desktop-file-validate: $out"
grep -q '^Exec=tessara %F$' "$desktop" || fail "Exec line"
for mime in image/bmp image/jpeg image/png image/tiff image/x-tga image/x-pcx; do
  grep -q "^MimeType=.*$mime;" "$desktop" || fail "MimeType lacks $mime"
done

# Metainfo: valid, with a description and a screenshot, naming the entry.
metainfo=$prefix/share/metainfo/io.github.tessara.Tessara.metainfo.xml
appstreamcli validate --no-net "$metainfo" >/dev/null 2>&1 || fail "appstreamcli validate: $(appstreamcli validate --no-net "$metainfo" 2>&1)"
appstreamcli validate-tree --no-net "$prefix" >/dev/null 2>&1 || fail "appstreamcli validate-tree"
grep -q '<screenshot type="default">' "$metainfo" || fail "no default screenshot"
grep -q '<description>' "$metainfo" || fail "no description"
grep -q '<launchable type="desktop-id">tessara.desktop</launchable>' "$metainfo" || fail "launchable"
grep -q '@[A-Z_]*@' "$metainfo" && fail "unreplaced names in the metainfo"

# Icons: PNG width and height from the header.
for size in 48 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/tessara.png
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "icon ${size}: $dims"
done

# Manual pages: rendered by man without a warning.
for page in tessara tessara-join; do
  file=$prefix/share/man/man1/$page.1.gz
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
  zgrep -q '@[A-Z_]*@' "$file" && fail "unreplaced names in $page.1"
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/tessara-join.1.gz" 2>/dev/null | col -b)
for section in SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$text" || fail "tessara-join.1 lacks $section"
done
# Every option the program itself lists.
for option in $("$prefix/bin/tessara-join" --help | grep -o -- '--[a-z0-9-]*' | sort -u); do
  grep -q -- "$option" <<<"$text" || fail "tessara-join.1 does not mention $option"
done
for status in 0 1 2 130; do
  grep -Eq "^ +$status +[A-Z]" <<<"$text" || fail "tessara-join.1 does not explain exit status $status"
done

# The help page where F1 looks (../share/doc/tessara/help from bin/), and the
# screenshots it shows.
help=$prefix/bin/../share/doc/tessara/help/tessara.html
for shot in $(grep -o 'src="\.\./screenshots/[^"]*"' "$help" | sed 's/src="\.\.\///; s/"$//'); do
  [ -f "$prefix/share/doc/tessara/$shot" ] || fail "help page shows missing $shot"
done

# The same page beside the program in the build tree, where F1 finds it when
# the program runs from there, with every screenshot it shows.
help=$build/ui/help/tessara.html
[ -f "$help" ] || fail "no help page beside the program in the build tree"
for shot in $(grep -o 'src="\.\./screenshots/[^"]*"' "$help" | sed 's/src="\.\.\///; s/"$//'); do
  [ -f "$build/ui/$shot" ] || fail "help page in the build tree shows missing $shot"
done

[ $failures -eq 0 ] && echo "installed tree checked: all well"
exit $((failures > 0))
