#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Idempotent and non-interactive: when everything is present it only checks and returns.
set -euo pipefail

need_packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  googletest
  wine wine64 wine32:i386
  xvfb xauth
  librsvg2-bin icoutils imagemagick
  fonts-wine x11-apps
  fp-utils  # chmcmd and chmls: TALO's help files
  nsis      # makensis: the setup program
)

missing=()
for p in "${need_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync serves an index that fails its checksum; apt then keeps
# the indexes it has. Try again a few times, then go on with what came.
for attempt in 1 2 3; do
  if $SUDO apt-get update -qq; then break; fi
  echo "setup: package index update failed (attempt $attempt of 3)"
  [ "$attempt" -lt 3 ] && sleep 5
done

native=() foreign=()
for p in "${missing[@]}"; do
  case $p in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
[ ${#native[@]} -eq 0 ] || $SUDO apt-get install -y -qq --no-install-recommends "${native[@]}"

# A Multi-Arch "same" library must have one version in both architectures. When an index
# of one architecture is older than the other's (a failed download of it above), the
# candidates differ and apt refuses them as held broken packages: take the newest version
# both architectures can have, for both.
versions_of() { apt-cache policy "$1" | awk '/Version table:/{t=1;next} t && !/^        /{print ($1=="***")?$2:$1}'; }
matched=()
if [ ${#foreign[@]} -gt 0 ]; then
  while read -r dep; do
    name=${dep%:i386}
    # (grep reads whole outputs here: a grep that stops early breaks the pipe under pipefail)
    installed=$(dpkg-query -W -f='${Status} ${Version}' "$name:amd64" 2>/dev/null || true)
    [[ $installed == "install ok installed "* ]] || continue
    installed=${installed##* }
    apt-cache show "$dep" 2>/dev/null | grep -q '^Multi-Arch: same' || continue
    # The installed version where the other architecture has it, else the newest both have.
    common=$(grep -Fxf <(versions_of "$dep") <(echo "$installed"; versions_of "$name:amd64") | sed -n 1p || true)
    [ -n "$common" ] || continue
    # Pinned even where it is installed already: otherwise apt may upgrade the 64-bit one
    # to a newer candidate the other architecture has not.
    matched+=("$name:amd64=$common" "$dep=$common")
  done < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
             --no-replaces --no-enhances "${foreign[@]}" 2>/dev/null | grep -E '^[^ <].*:i386$' | sort -u)
  $SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades "${foreign[@]}" "${matched[@]}"
fi
