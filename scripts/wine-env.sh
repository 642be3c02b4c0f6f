# Sourced by the scripts: the project's own Wine prefix under the build folder, a
# persistent wineserver for the run, and stopping it again.
ZORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZORA_BUILD=${ZORA_BUILD:-$ZORA_ROOT/build}
export WINEPREFIX=$ZORA_BUILD/wineprefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Windows need a display: a private Xvfb unless one is already set.
zora_display_start() {
  [ -n "${DISPLAY:-}" ] && return 0
  local file=$ZORA_BUILD/xvfb.display
  rm -f "$file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
  ZORA_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$file" ] && break
    sleep 0.1
  done
  export DISPLAY=:$(head -1 "$file")
}

# Some machines run 64-bit programs only (a kernel or hypervisor without 32-bit user
# mode: starting Wine's 32-bit loader fails with "Exec format error"). Wine can then run
# no 32-bit Windows program at all. ZORA_WIN32 is 1 where it can, 0 where it cannot; the
# scripts then leave the 32-bit programs out, and the tests skip what needs one.
zora_probe_win32() {
  if [ -z "${ZORA_WIN32:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then ZORA_WIN32=1; else ZORA_WIN32=0; fi
  fi
  export ZORA_WIN32
}

zora_wine_start() {
  mkdir -p "$ZORA_BUILD"
  zora_display_start
  zora_probe_win32
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p 2>/dev/null || true  # one may already serve this prefix
  # The first 32-bit and 64-bit process of a new prefix finish its set-up and take
  # tens of seconds; pay for that here, not inside a test's time limit.
  [ "$ZORA_WIN32" = 1 ] && { /usr/lib/wine/wine cmd /c exit >/dev/null 2>&1 || true; }
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
  # A crashing program prints its backtrace and ends, instead of waiting behind a crash
  # dialog on a display nobody looks at until its test times out.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || true
  # Wine's own fonts (Debian's fonts-wine) lie in /usr/share/wine/fonts, where this Wine 8
  # never looks: without them the caption buttons draw Marlett's letters ("0 1 r") in
  # another face and Tahoma falls back to DejaVu Sans. A font in the prefix's Fonts folder
  # is found; Marlett, Tahoma and its bold face go there.
  local font
  for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
    [ -f "/usr/share/wine/fonts/$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/$font" ] &&
      cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  # TALO's dialogs ask for Tahoma (Wine's own, from fonts-wine) and Verdana: a
  # metric-compatible face stands in for Verdana, so that layouts are what a user sees.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Verdana /t REG_SZ /d 'DejaVu Sans' /f \
    >/dev/null 2>&1 || true
  # The scheme model's cases and benchmark run as XP and as Vista (Wine's version per program).
  for program in zora_scheme_xp:winxp zora_scheme_vista:vista zora_scheme_bench_xp:winxp zora_scheme_bench:vista; do
    /usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\${program%%:*}.exe" /v Version \
      /t REG_SZ /d "${program#*:}" /f >/dev/null 2>&1 || true
  done
  trap zora_wine_stop EXIT
}

zora_wine_stop() {
  wineserver -k 2>/dev/null || true
  if [ -n "${ZORA_XVFB_PID:-}" ]; then
    kill "$ZORA_XVFB_PID" 2>/dev/null || true
    ZORA_XVFB_PID=
  fi
}

zora_build_all() {
  local werror=OFF
  [ -n "${CI:-}" ] && werror=ON
  for arch in i686 x86_64; do
    cmake -S "$ZORA_ROOT" -B "$ZORA_BUILD/$arch" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$ZORA_ROOT/cmake/toolchain-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORA_WERROR=$werror >/dev/null
    cmake --build "$ZORA_BUILD/$arch"
  done
}

# TALO as a user meets it, photographed: talogallery's tray mode (tools/talogallery) starts
# TALO in a Wine virtual desktop with a taskbar, opens its tray menu, chooses a scheme,
# keeps the devices off in the device dialog, runs a command and photographs the balloon.
#   zora_talo_tray OUTDIR GALLERY TALO SCHEME COMMAND...
# OUTDIR gets tray-menu.png, device-dialog.png and balloon.png (each one that came);
# GALLERY is the 64-bit talogallery.exe beside the library it uses (it finds the scheme's
# place in the menu), TALO the TALO.exe to run.
zora_talo_tray() {
  local out=$1 gallery=$2 talo=$3 scheme=$4 wine64=/usr/lib/wine/wine64 bmps
  shift 4
  bmps=$(mktemp -d)
  $wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops\lumenkeep-tray' /v EnableShell /t REG_DWORD /d 1 /f \
    >/dev/null 2>&1
  local status=0
  $wine64 explorer "/desktop=lumenkeep-tray,1024x768" "$gallery" tray "$($wine64 winepath -w "$bmps")" \
    "$($wine64 winepath -w "$talo")" "$scheme" "$*" || status=$?
  mkdir -p "$out"
  for bmp in "$bmps"/*.bmp; do
    [ -e "$bmp" ] && /usr/bin/convert "$bmp" "$out/$(basename "${bmp%.bmp}").png"
  done
  rm -rf "$bmps"
  return $status
}
