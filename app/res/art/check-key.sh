#!/bin/bash
# Checks keyed bitmaps of TALO's artwork: each must be a 24-bit BMP whose transparent
# colour 0xFF00FF is exact, i.e. no pixel is near magenta without being magenta (a blend of
# the key with an edge, which would show as a pink fringe once the key is cut out).
# Usage: check-key.sh file.bmp...   Exit status 1 when any file fails.
set -u
magick=/usr/bin/convert
status=0
for bmp in "$@"; do
  bpp=$(od -A n -t u2 -j 28 -N 2 "$bmp" | tr -d ' ')
  if [ "$(head -c 2 "$bmp")" != "BM" ] || [ "$bpp" != 24 ]; then
    echo "check-key: $bmp: not a 24-bit BMP (bits per pixel: ${bpp:-?})" >&2
    status=1
    continue
  fi
  # "Near" = red and blue at least 0xC0, green at most 0x60.
  read -r exact near < <("$magick" "$bmp" -depth 8 txt:- | awk '
    NR > 1 {
      s = $0; sub(/^[^(]*\(/, "", s); sub(/\).*$/, "", s); split(s, c, ",")
      r = c[1] + 0; g = c[2] + 0; b = c[3] + 0
      if (r == 255 && g == 0 && b == 255) exact++
      else if (r >= 192 && g <= 96 && b >= 192) near++
    }
    END { printf "%d %d\n", exact, near }')
  if [ "$near" != 0 ]; then
    echo "check-key: $bmp: $near near-magenta pixels that are not exactly 0xFF00FF" >&2
    status=1
  elif [ "$exact" = 0 ]; then
    echo "check-key: $bmp: no 0xFF00FF key pixel at all" >&2
    status=1
  fi
done
exit $status
