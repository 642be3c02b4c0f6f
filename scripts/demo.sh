#!/usr/bin/env bash
# The suite's main job as far as it is built, on the virtual notebook: install both
# architectures into build/install (bin, bin64, cfg) inside the project's Wine prefix,
# switch the virtual notebook on (zoractl names the machine file and the provider module
# ZoraVnb.dll under the installation key; off removes both), list, create, edit and show
# the user's power schemes as Windows XP and as Windows Vista, install and start the
# service, switch a device from the 32-bit command line through the running service,
# unplug the mains and read the battery, set the network adapter's link speed, and
# change the platform's settings through the hardware agents: hub functions, USB ports,
# processor level, backlight, radios and graphics power saving, with the machine's
# state before and after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
source "$here/wine-env.sh"
zora_build_all >/dev/null
install=$ZORA_BUILD/install
for arch in i686 x86_64; do
  cmake --install "$ZORA_BUILD/$arch" --prefix "$install" >/dev/null
done
zora_wine_start
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ "$ZORA_WIN32" = 1 ]; then
  client_wine=$wine32 client_bin=$install/bin client_bits=32-bit
else
  echo "(this machine cannot run 32-bit programs: the 64-bit zoractl and GRAVO.exe stand in for the 32-bit ones)"
  client_wine=$wine64 client_bin=$install/bin64 client_bits=64-bit
fi
zoractl() { $client_wine "$client_bin/zoractl.exe" "$@"; }
service=$install/bin64/ZORASrvc.exe

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
cleanup() {
  as_windows "" || true
  panel /u >/dev/null 2>&1 || true
  $wine64 sc stop ZORASrvc >/dev/null 2>&1 || true
  $wine64 "$service" /UnregServer >/dev/null 2>&1 || true
  zoractl vnb off >/dev/null 2>&1 || true
  zora_wine_stop
}
trap cleanup EXIT

echo "== where the installed $client_bits library finds its configuration"
zoractl where

echo
echo "== the virtual notebook on, with a fresh default machine (its file and module named in the installation key)"
rm -f "$install/vnb/notebook.machine"
zoractl vnb on

# zoractl runs as the given Windows version (Wine's version per program): winxp or vista.
as_windows() {
  if [ -n "$1" ]; then
    $wine64 reg add 'HKCU\Software\Wine\AppDefaults\zoractl.exe' /v Version /t REG_SZ /d "$1" /f >/dev/null 2>&1
  else
    $wine64 reg delete 'HKCU\Software\Wine\AppDefaults\zoractl.exe' /v Version /f >/dev/null 2>&1 || true
  fi
}
for version in winxp vista; do
  echo
  label=XP; [ "$version" = vista ] && label=Vista
  echo "== the user's power schemes as Windows $label keeps them (XP: numbered schemes in the registry; Vista: GUID schemes)"
  as_windows "$version"
  profile=$(zoractl where | tr -d '\r' | sed -n 's/^profile folder *: //p')
  rm -f "$($wine64 winepath -u "$profile" 2>/dev/null)/ZORAScheme.ini"   # a user new to the suite
  zoractl scheme list
  active=$(zoractl scheme list | tr -d '\r' | awk '$1 == "*" {print $2}')
  created=$(zoractl scheme create "Demo $label" --from "$active" --desc "made by the demo" | tr -d '\r')
  echo "$created"
  created=$(sed -n 's/^created scheme \([0-9]*\):.*/\1/p' <<<"$created")
  zoractl scheme set "$created" Wifi dc 0
  zoractl scheme set "$created" MonitorOffTimeOut dc 120
  zoractl scheme show "$created"
done
as_windows ""

echo
echo "== the service installed (automatic, LocalSystem, depends on RPCSS) and started"
$wine64 "$service" /UnregServer >/dev/null 2>&1 || true
$wine64 "$service" /Service
$wine64 sc start ZORASrvc >/dev/null
for _ in $(seq 100); do
  [ "$(service_state)" = RUNNING ] && break
  sleep 0.1
done
echo "ZORASrvc: $(service_state)"
for _ in $(seq 100); do   # its worker comes up just after
  zoractl call 7 '' 0 200 >/dev/null 2>&1 && break
  sleep 0.1
done

echo
echo "== the device manager's list, seen by the $client_bits library"
listing=$(zoractl devices | tr -d '\r')
echo "$listing"
index=$(awk '/PCI\\VEN_/ && /started/ && /Wireless|802\.11/ {print $1; exit}' <<<"$listing")
[ -n "$index" ] || index=$(awk '/started/ {print $1; exit}' <<<"$listing")

echo
echo "== device $index disabled through the service (an ordinary caller's request)"
zoractl --trace device disable "$index"
zoractl devices | tr -d '\r' | awk -v i="$index" '$1 == i'

echo
echo "== and enabled again"
zoractl device enable "$index"
zoractl devices | tr -d '\r' | awk -v i="$index" '$1 == i'

echo
echo "== mains unplugged on the virtual notebook: the service is told as the system would tell it"
zoractl vnb power battery 64
echo "-- the battery as the library reads it (battery class, system battery state, the controller's record)"
zoractl battery
zoractl vnb power ac

echo
echo "== the wired network adapter's link speed (its driver key) and a restart through the device installer"
zoractl lan show
zoractl lan speed 4
zoractl lan show

echo
echo "== the platform as the agents read it from the machine's registers and firmware"
panel
platform | tr -d '\r'

echo
echo "== settings changed through the agents"
echo "-- hub function PCIE3 off, the fingerprint sensor's USB port 8 off, a mouse plugged into port 11"
zoractl hub off PCIE3
zoractl usb off 8
zoractl usb attach 7 1 "USB Optical Mouse"
echo "-- processor level 60, backlight 4, the radios off (Wi-Fi and Bluetooth share one firmware switch)"
zoractl cpu set 60
zoractl ec backlight 4
zoractl ec wifi 0
echo "-- display power saving on with strength 3, by the graphics helper"
$client_wine "$client_bin/GRAVO.exe" 3 && echo "GRAVO.exe 3: exit 0"

echo
echo "== the platform afterwards"
platform | tr -d '\r'
