#!/usr/bin/env bash
# Photographs TALO's windows into docs/screenshots/, one PNG per window and language:
# builds the suite, starts a Wine virtual desktop under Xvfb (the project's prefix, a
# private display) and runs talogallery there with the English and the German resource
# module, then runs TALO on the virtual notebook and photographs its tray menu, device
# dialog and balloon. Run it whenever a window changes, look at the pictures, and commit them.
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
dialogs=(about=100 battery=133 warning=2128 confirm=2129 icon-chooser=136
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
# TALO itself on the virtual notebook, as a user meets it: the tray menu, the device dialog
# before "Battery Saver" (asked for with DevShowFlag 1; TALO's first run makes the scheme)
# and the balloon after the mains are unplugged. English only: TALO takes its module from
# the installed configuration.
zoractl=$bin/zoractl.exe
$wine64 "$zoractl" vnb on >/dev/null
$wine64 "$zoractl" vnb reset >/dev/null
$wine64 "$zoractl" vnb power ac >/dev/null
$wine64 reg delete 'HKCU\Software\Korvex\TALO' /f >/dev/null 2>&1 || true
$wine64 reg add 'HKCU\Software\Korvex\TALO' /v DevShowFlag /t REG_DWORD /d 1 /f >/dev/null
zora_talo_tray "$shots/tray" "$bin/talogallery.exe" "$bin/TALO.exe" "Battery Saver" \
  "$($wine64 winepath -w "$zoractl") vnb power battery 64" || true
$wine64 reg delete 'HKCU\Software\Korvex\TALO' /f >/dev/null 2>&1 || true
$wine64 "$zoractl" vnb off >/dev/null
for png in "$shots"/tray/*.png; do
  [ -e "$png" ] && cp "$png" "$out/$(basename "${png%.png}")-en.png"
done

count=$(ls "$shots"/tray/*.png 2>/dev/null | wc -l)
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  /usr/bin/convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
  count=$((count + 1))
done
echo "screenshots: $count pictures in $out"
[ "$count" -gt 0 ]
