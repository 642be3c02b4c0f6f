#!/usr/bin/env bash
# Photographs TALO's windows into docs/screenshots/, one PNG per window and language:
# builds the suite, starts a Wine virtual desktop under Xvfb (the project's prefix, a
# private display) and runs talogallery there with the English and the German resource
# module. Run it whenever a window changes, look at the pictures, and commit them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
source "$here/wine-env.sh"
zora_build_all >/dev/null
zora_wine_start
wine64=/usr/lib/wine/wine64
bin=$ZORA_BUILD/x86_64/bin
out=$ZORA_ROOT/docs/screenshots
shots=$(mktemp -d)
trap 'rm -rf "$shots"; zora_wine_stop' EXIT
mkdir -p "$out"

# The skinned dialogs by their templates (app/res/TaloResIds.h).
# The setting page (104) is a child of the edit dialog and is shown inside it.
dialogs=(about=100 battery=133 device=2045 warning=2128 confirm=2129 icon-chooser=136
         scheme-main=132 scheme-edit=134 scheme-options=135)
for language in en:TALORes.dll de:TALOResDE.dll; do
  suffix=${language%%:*} module=${language#*:}
  args=()
  for dialog in "${dialogs[@]}"; do args+=("${dialog%%=*}-$suffix=${dialog#*=}"); done
  # The virtual desktop gives the windows a desktop of their own, as on Windows; explorer
  # returns when talogallery has photographed the last one.
  $wine64 explorer "/desktop=lumenkeep-shots,1024x768" "$bin/talogallery.exe" \
    "$($wine64 winepath -w "$shots")" "$($wine64 winepath -w "$bin/$module")" "${args[@]}"
done
count=0
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  /usr/bin/convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
  count=$((count + 1))
done
echo "screenshots: $count pictures in $out"
[ "$count" -gt 0 ]
