#!/usr/bin/env bash
# Photographs TALO's windows into docs/screenshots/, one PNG per window and language:
# builds the suite, starts a Wine virtual desktop under Xvfb (the project's prefix, a
# private display) and runs talogallery there with the English and the German resource
# module, then runs TALO on the virtual notebook and photographs its tray menu, device
# dialog, balloon, quick switch and battery status dialog, with each module. Run it
# whenever a window changes, look at the pictures, and commit them.
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
# The setting pages (104) are shown inside the editor, "+1" its second tab (mains).
dialogs=(about=100 warning=2128 confirm=2129 icon-chooser=136
         scheme-main=132 scheme-edit=134 scheme-edit-ac=134+1 scheme-options=135)
# The scheme dialogs show the virtual notebook's schemes, with a scheme file of their own.
$wine64 "$bin/zoractl.exe" vnb on >/dev/null
$wine64 "$bin/zoractl.exe" vnb reset >/dev/null
$wine64 "$bin/zoractl.exe" vnb power ac >/dev/null
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
# before the battery-saving scheme (asked for with DevShowFlag 1; TALO's first run makes the
# scheme, named in the module's language) and the balloon after the mains are unplugged.
# TALO takes its module from the installed configuration: the German run names the German
# module there for its length and puts the English one back.
zoractl=$bin/zoractl.exe
cfg=$ZORA_BUILD/x86_64/cfg/ZORACfg.ini
cp "$cfg" "$shots/ZORACfg.ini"
trap 'cp "$shots/ZORACfg.ini" "$cfg"; rm -rf "$shots"; zora_wine_stop' EXIT
for language in "en:TALORes.dll:Battery Saver" "de:TALOResDE.dll:Akku sparen"; do
  IFS=: read -r suffix module scheme <<<"$language"
  sed "s/^TALOResource=.*/TALOResource=$module/" "$shots/ZORACfg.ini" >"$cfg"
  $wine64 "$zoractl" vnb on >/dev/null
  $wine64 "$zoractl" vnb reset >/dev/null
  $wine64 "$zoractl" vnb power ac >/dev/null
  $wine64 reg delete 'HKCU\Software\Korvex\TALO' /f >/dev/null 2>&1 || true
  $wine64 reg add 'HKCU\Software\Korvex\TALO' /v DevShowFlag /t REG_DWORD /d 1 /f >/dev/null
  # A new user: no scheme or profile file of an earlier run, so the first run seeds anew.
  rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Local/Korvex/ZORA/Cfg/{ZORAScheme,TALOScheme}.ini
  rm -rf "$shots/tray"
  zora_talo_tray "$shots/tray" "$bin/talogallery.exe" "$bin/TALO.exe" "$scheme" \
    "$($wine64 winepath -w "$zoractl") vnb power battery 64" || true
  $wine64 reg delete 'HKCU\Software\Korvex\TALO' /f >/dev/null 2>&1 || true
  $wine64 "$zoractl" vnb off >/dev/null
  for png in "$shots"/tray/*.png; do
    [ -e "$png" ] && cp "$png" "$out/$(basename "${png%.png}")-$suffix.png"
  done
  tray_count=$(( ${tray_count:-0} + $(ls "$shots"/tray/*.png 2>/dev/null | wc -l) ))
done
cp "$shots/ZORACfg.ini" "$cfg"
# The quick switch over the schemes TALO's first run listed, from each resource module.
for language in en:TALORes.dll de:TALOResDE.dll; do
  $wine64 explorer "/desktop=lumenkeep-tray,1024x768" "$bin/talogallery.exe" quick "$($wine64 winepath -w "$shots")" \
    "$($wine64 winepath -w "$bin/TALO.exe")" "${language#*:}" "quick-switch-${language%%:*}" || true
done
# The battery status dialog on the virtual notebook, from each resource module: the
# notebook on battery at 64 %, its pack a year old.
$wine64 "$zoractl" vnb on >/dev/null
for language in en:TALORes.dll de:TALOResDE.dll; do
  $wine64 "$zoractl" vnb reset >/dev/null
  $wine64 "$zoractl" vnb power battery 64 >/dev/null
  $wine64 explorer "/desktop=lumenkeep-tray,1024x768" "$bin/talogallery.exe" battery "$($wine64 winepath -w "$shots")" \
    "$($wine64 winepath -w "$bin/TALO.exe")" "${language#*:}" "battery-${language%%:*}" || true
done
$wine64 "$zoractl" vnb off >/dev/null

count=${tray_count:-0}
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  /usr/bin/convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
  count=$((count + 1))
done
echo "screenshots: $count pictures in $out"
[ "$count" -gt 0 ]
