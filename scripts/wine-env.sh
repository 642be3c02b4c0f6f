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

zora_wine_start() {
  mkdir -p "$ZORA_BUILD"
  zora_display_start
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p 2>/dev/null || true  # one may already serve this prefix
  # The first 32-bit and 64-bit process of a new prefix finish its set-up and take
  # tens of seconds; pay for that here, not inside a test's time limit.
  /usr/lib/wine/wine cmd /c exit >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
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
