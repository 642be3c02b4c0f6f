#!/bin/sh
# help_contents.sh CHMLS SOURCE_FOLDER FILE.chm
# What a compiled help file holds, read back with chmls: every page of its source folder
# and of its project, the contents and the index, each page reached from both, and the
# binary index with as many keywords as the source index has entries.
set -u
chmls=$1 src=$2 chm=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ -s "$chm" ] || { echo "FAIL: no help file $chm"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$chmls" -n list "$chm" >"$work/list" 2>&1 || fail "chmls cannot list $chm"
"$chmls" extracttoc "$chm" "$work/toc" >/dev/null 2>&1 || fail "chmls cannot read the contents of $chm"
"$chmls" extractindex "$chm" "$work/index" >/dev/null 2>&1 || fail "chmls cannot read the index of $chm"

holds() { grep -qxF "/$1" "$work/list"; }
for file in toc.hhc index.hhk '#SYSTEM' '#WINDOWS' '$WWKeywordLinks/BTree'; do
  holds "$file" || fail "$chm lacks $file"
done

pages=$(cd "$src" && ls *.htm)
listed=$(sed -n '/^\[FILES\]/,/^\[/p' "$src/Lumenkeep.hhp" | grep -v '^\[' | tr -d '\r' | grep .)
[ -n "$pages" ] || fail "no pages in $src"
for page in $pages; do
  echo "$listed" | grep -qxF "$page" || fail "$page is not in the project's [FILES]"
  holds "$page" || fail "$chm lacks $page"
  grep -q "value=\"$page[\"#]" "$work/toc" || fail "the contents of $chm do not reach $page"
  grep -q "value=\"$page[\"#]" "$work/index" || fail "the index of $chm does not reach $page"
done
for file in $listed; do
  holds "$file" || fail "$chm lacks $file of the project"
done

# extractindex reads the binary index back: one Local per keyword.
expected=$(grep -c 'name="Local"' "$src/index.hhk")
actual=$(grep -c 'name="Local"' "$work/index")
[ "$expected" -gt 0 ] || fail "the source index is empty"
[ "$actual" -eq "$expected" ] || fail "the index of $chm has $actual keywords, its source $expected"

[ "$failures" -eq 0 ] || exit 1
echo "$chm: $(echo "$pages" | wc -w) pages, $expected index keywords, contents and index complete"
