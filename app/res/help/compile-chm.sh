#!/bin/sh
# compile-chm.sh CHMCMD PROJECT.hhp OUTPUT.chm
# Compiles one help project and fails when the compiler fails, warns (a missing page, a
# broken link) or leaves no file: chmcmd returns 0 for a project it cannot even open.
set -eu
chmcmd=$1 hhp=$2 out=$3
dir=$(dirname "$hhp")
name=$(sed -n 's/^Compiled file=//p' "$hhp" | tr -d '\r')
case $name in
  ''|*/*|*\\*) echo "compile-chm: $hhp names no plain compiled file" >&2; exit 1 ;;
esac
rm -f "$dir/$name" "$out"
if ! log=$(cd "$dir" && "$chmcmd" "$(basename "$hhp")" 2>&1); then
  printf '%s\n' "$log"
  echo "compile-chm: $chmcmd failed on $hhp" >&2
  exit 1
fi
if printf '%s\n' "$log" | grep -E '^(Warning|Error)|Error:' >&2; then
  echo "compile-chm: $hhp does not compile cleanly" >&2
  exit 1
fi
if [ ! -s "$dir/$name" ]; then
  printf '%s\n' "$log"
  echo "compile-chm: $hhp made no $name" >&2
  exit 1
fi
mv "$dir/$name" "$out"
