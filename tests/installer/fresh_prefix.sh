#!/bin/sh
# Runs a 64-bit test program in a Wine prefix of its own, made for it and removed after:
# the setup program's cases change the machine as a whole (services, HKLM, Program Files),
# which the project's shared prefix must not see.
#   fresh_prefix.sh SETUP PROGRAM [ARGUMENTS...]
# The program finds the setup program's Windows path in ZORA_SETUP. The prefix lies beside
# the program (in its build), under its own wineserver; the shared prefix and its
# wineserver are left alone.
set -eu
setup=$1
program=$2
shift 2
here=$(cd "$(dirname "$program")/.." && pwd)
root=$(mktemp -d "$here/setup-prefix.XXXXXX")
export WINEPREFIX="$root/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap "exit 143" INT TERM
# The prefix's set-up goes on in the background after wineboot returns; a service started
# meanwhile may miss the service manager's start time-out. Wait for all of it to end.
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p 2>/dev/null || true
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
ZORA_SETUP=$(/usr/lib/wine/wine64 winepath -w "$setup" 2>/dev/null | tr -d '\r')
export ZORA_SETUP
status=0
/usr/lib/wine/wine64 "$program" "$@" || status=$?
exit $status
