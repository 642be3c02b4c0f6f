#!/usr/bin/env bash
# The suite's main job as far as it is built: install both architectures into
# build/install (bin, bin64, cfg) inside the project's Wine prefix, then show the
# library finding its configuration and a request crossing the boards from the
# 32-bit library to a 64-bit answering process.
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

echo "== where the installed 32-bit library finds its configuration"
$wine32 "$install/bin/zoractl.exe" where

echo
echo "== a request with no service running fails at once"
$wine32 "$install/bin/zoractl.exe" call 2 'ROOT\LEGACY_ZORAEBL\0000' 1 1000 || true

echo
echo "== the same request answered by a 64-bit process serving the boards"
ready='Global\zora_demo_ready'
$wine64 "$ZORA_BUILD/x86_64/bin/zora_peer.exe" serve "$ready" &
answerer=$!
sleep 2
$wine32 "$install/bin/zoractl.exe" --trace call 2 'ROOT\LEGACY_ZORAEBL\0000' 1 1000
$wine32 "$install/bin/zoractl.exe" call 0 '' 0 200 >/dev/null || true   # ends the answerer
wait $answerer || true
