#!/usr/bin/env bash
# The suite's main job on the virtual notebook, as Windows XP and as Windows Vista: install
# the suite with its setup program (LumenkeepSetup.exe /S, as an administrator deploys it)
# inside the project's Wine prefix; add the virtual notebook beside it (zoractl names the
# machine file and the provider module ZoraVnb.dll under the installation key; off removes
# both) and start the installed service on it; create a scheme from a built-in one and
# change a few settings as a user would, activate it from the 32-bit client (the service
# applies it), show the machine beside the scheme (zoractl status), unplug the mains and
# show the battery values applied, sleep and resume on battery, and plug the mains back in.
# Then TALO in the notification area as a user meets it: its tray menu, a scheme chosen
# there, the device dialog, the balloon when the mains are unplugged (pictures in
# build/demo/). At the end the suite's uninstaller removes it again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
source "$here/wine-env.sh"
zora_build_all >/dev/null
zora_wine_start
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
# A folder without spaces: Wine quotes an argument with a space, and the setup program's
# /D= and the uninstaller's _?= must stand unquoted at the end of the command line.
install_win='C:\Lumenkeep'
install=$($wine64 winepath -u "$install_win" 2>/dev/null | tr -d '\r')
install=${install%/}
installed_at=$install_win

echo "== Lumenkeep installed by its setup program: LumenkeepSetup.exe /S /D=$install_win"
$wine64 "$ZORA_BUILD/x86_64/LumenkeepSetup.exe" /S "/D=$install_win"
# (an installation there already is upgraded where it is)
found=$($wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumenkeep' \
          /v InstallLocation /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
if [ -n "$found" ]; then
  installed_at=$found
  install=$($wine64 winepath -u "$installed_at" 2>/dev/null | tr -d '\r')
  install=${install%/}
fi
echo "installed in $installed_at: $(cd "$install" && ls -d bin/* bin64/* cfg/* | tr '\n' ' ')"

# The virtual notebook and the command-line tool are no part of the product: they join the
# installation for the demo (zoractl beside the installed library, so that it finds the
# installation's cfg folder) and leave it before the uninstaller runs.
if [ "$ZORA_WIN32" = 1 ]; then
  client_wine=$wine32 client_bin=$install/bin client_bits=32-bit
else
  echo "(this machine cannot run 32-bit programs: the 64-bit zoractl, TALO and GRAVO.exe stand in for the 32-bit ones)"
  client_wine=$wine64 client_bin=$install/bin64 client_bits=64-bit
fi
extras=()
add_extra() {   # ARCH FOLDER FILE...
  local arch=$1 folder=$2 file
  shift 2
  for file in "$@"; do
    [ -e "$install/$folder/$file" ] && continue
    cp "$ZORA_BUILD/$arch/bin/$file" "$install/$folder/"
    extras+=("$install/$folder/$file")
  done
}
[ "$ZORA_WIN32" = 1 ] && add_extra i686 bin zoractl.exe ZoraVnb.dll ZoraVnbPanel.dll ZoraVnbWmi.dll
add_extra x86_64 bin64 zoractl.exe ZoraVnb.dll ZoraVnbPanel.dll ZoraVnbWmi.dll
[ "$ZORA_WIN32" = 1 ] || add_extra x86_64 bin64 TALO.exe TALORes.dll TALOResDE.dll Lumenkeep.chm Lumenkeep.de.chm
zoractl() { $client_wine "$client_bin/zoractl.exe" "$@"; }

service_state() { $wine64 sc query ZORASrvc 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
panel() {   # the graphics driver's control object and the adapter vendor's WMI provider, per architecture
  [ "$ZORA_WIN32" = 1 ] && $wine32 regsvr32 /s ${1:-} "$($wine64 winepath -w "$install/bin/ZoraVnbPanel.dll")"
  $wine64 regsvr32 /s ${1:-} "$($wine64 winepath -w "$install/bin64/ZoraVnbPanel.dll")"
  [ "$ZORA_WIN32" = 1 ] && $wine32 regsvr32 /s ${1:-} "$($wine64 winepath -w "$install/bin/ZoraVnbWmi.dll")"
  $wine64 regsvr32 /s ${1:-} "$($wine64 winepath -w "$install/bin64/ZoraVnbWmi.dll")"
}
platform() {
  zoractl hub list
  zoractl usb list
  zoractl cpu show
  zoractl ec show
  zoractl gfx show
}
uninstalled=0
uninstall() {
  as_windows "" || true
  panel /u >/dev/null 2>&1 || true
  zoractl vnb off >/dev/null 2>&1 || true
  [ ${#extras[@]} -eq 0 ] || rm -f "${extras[@]}"
  rm -rf "$install/vnb"
  # _?= keeps the uninstaller in place, so that this waits for it; it cannot delete its
  # own running program, which goes after it.
  $wine64 "$install/Uninstall.exe" /S "_?=$installed_at" || return
  uninstalled=1
  rm -f "$install/Uninstall.exe"
  rmdir "$install" 2>/dev/null || true
}
cleanup() {
  [ "$uninstalled" = 1 ] || uninstall >/dev/null 2>&1 || true
  zora_wine_stop
}
trap cleanup EXIT

echo "== where the installed $client_bits library finds its configuration"
zoractl where

# zoractl and the service run as the given Windows version (Wine's version per program):
# winxp or vista; "" puts back the default.
as_windows() {
  for program in zoractl.exe ZORASrvc.exe TALO.exe talogallery.exe; do
    if [ -n "$1" ]; then
      $wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /t REG_SZ /d "$1" /f >/dev/null 2>&1
    else
      $wine64 reg delete "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /f >/dev/null 2>&1 || true
    fi
  done
}
start_service() {
  $wine64 sc start ZORASrvc >/dev/null
  for _ in $(seq 100); do
    [ "$(service_state)" = RUNNING ] && break
    sleep 0.1
  done
  for _ in $(seq 100); do   # its worker comes up just after
    zoractl call 7 '' 0 200 >/dev/null 2>&1 && break
    sleep 0.1
  done
  echo "ZORASrvc: $(service_state)"
}
stop_service() {
  $wine64 sc stop ZORASrvc >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    [ "$(service_state)" = STOPPED ] && break
    sleep 0.1
  done
}
# The machine's variables that differ from a fresh scheme's, and the marks.
status() { zoractl status | tr -d '\r' | awk 'NR <= 3 || $1 == "*" || ($NF != "-" && $NF != "(system)")'; }
# An application runs on its own thread after a power event: wait until status reads clean.
settle() {
  for _ in $(seq 50); do
    zoractl status | tr -d '\r' | grep -q '^\*' || return 0
    sleep 0.2
  done
}

echo
echo "== the virtual notebook on; the graphics control object and the adapter vendor's WMI provider registered"
stop_service   # the installed service started on the real system; it starts again on the notebook
rm -f "$install/vnb/notebook.machine"
zoractl vnb on
panel
echo "-- the console session's logon process (Wine has none; the service takes its token on Vista)"
$wine64 "$ZORA_BUILD/x86_64/bin/winlogon.exe" >/dev/null 2>&1 &

for version in winxp vista; do
  label=XP; [ "$version" = vista ] && label=Vista
  echo
  echo "======== as Windows $label"
  as_windows "$version"
  zoractl vnb reset
  zoractl vnb power ac >/dev/null
  profile=$(zoractl where | tr -d '\r' | sed -n 's/^profile folder *: //p')
  rm -f "$($wine64 winepath -u "$profile" 2>/dev/null)/ZORAScheme.ini"   # a user new to the suite
  echo "== the installed service (automatic, LocalSystem, depends on RPCSS) started as $label"
  start_service

  echo
  echo "== a new scheme from the active built-in one, with a few settings changed as a user would"
  zoractl scheme list
  active=$(zoractl scheme list | tr -d '\r' | awk '$1 == "*" {print $2}')
  created=$(zoractl scheme create "Road warrior ($label)" --from "$active" --desc "made by the demo" | tr -d '\r')
  echo "$created"
  created=$(sed -n 's/^created scheme \([0-9]*\):.*/\1/p' <<<"$created")
  zoractl scheme set "$created" "HD Audio" dc 1       # the audio off on battery
  zoractl scheme set "$created" "USBPort 8" dc 1      # the fingerprint sensor's port off on battery
  zoractl scheme set "$created" Wifi ac 1
  zoractl scheme set "$created" Wifi dc 0
  zoractl scheme set "$created" BacklightLevel ac 7
  zoractl scheme set "$created" BacklightLevel dc 3
  zoractl scheme set "$created" LinkStepOption dc 123
  zoractl scheme set "$created" VXPS ac 75   # one strength for both sources: on battery only
  if [ "$version" = vista ]; then
    zoractl scheme set "$created" CpuAdaptive ac 0
    zoractl scheme set "$created" CpuAdaptive dc 0
    zoractl scheme set "$created" CpuSpeed ac 100
    zoractl scheme set "$created" CpuSpeed dc 50
  fi

  echo
  echo "== activated from the $client_bits client: the running service applies it for the mains"
  zoractl scheme activate "$created"
  status

  echo
  echo "== the mains unplugged: the service applies the battery values"
  zoractl vnb power battery 64
  settle
  status

  echo
  echo "== the notebook sleeps (losing the processor's and the hub's registers) and resumes on battery"
  zoractl vnb sleep battery
  settle
  status

  echo
  echo "== the mains plugged back in"
  zoractl vnb power ac
  settle
  zoractl apply
  status
  stop_service
done

echo
echo "======== TALO in the notification area, as Windows Vista"
as_windows vista
zoractl vnb reset
zoractl vnb power ac >/dev/null
# A user new to TALO (its first start makes the product's schemes), who wants to be asked
# which devices to keep running when a scheme switches some off.
$wine64 reg delete 'HKCU\Software\Korvex\TALO' /f >/dev/null 2>&1 || true
$wine64 reg add 'HKCU\Software\Korvex\TALO' /v DevShowFlag /t REG_DWORD /d 1 /f >/dev/null
start_service
shots=$ZORA_BUILD/demo
rm -rf "$shots"
# talogallery (a 64-bit tool, not installed) beside the installed 64-bit library.
add_extra x86_64 bin64 talogallery.exe
echo "== TALO started in a virtual desktop with a taskbar; its tray menu opened; \"Battery Saver\" chosen there"
echo "   (the device dialog lists what the scheme switches off, all kept off); then the mains unplugged"
zora_talo_tray "$shots" "$install/bin64/talogallery.exe" "$client_bin/TALO.exe" "Battery Saver" \
  "$($wine64 winepath -w "$client_bin/zoractl.exe") vnb power battery 64"
zoractl scheme list
settle
status
echo "== what TALO showed: $(cd "$shots" 2>/dev/null && ls *.png | tr '\n' ' ')(in $shots)"
stop_service
as_windows ""

echo
echo "== the batteries as the library reads them"
zoractl battery

echo
echo "== Lumenkeep removed by its uninstaller: Uninstall.exe /S (the users' schemes stay)"
uninstall
left=$( { $wine64 sc query ZORASrvc >/dev/null 2>&1 && echo "the service ZORASrvc"; \
          $wine64 reg query 'HKLM\Software\Korvex' /reg:64 >/dev/null 2>&1 && echo "HKLM\Software\Korvex"; \
          [ -e "$install" ] && echo "$install"; } || true)
echo "left of the suite: ${left:-nothing}"
