#!/usr/bin/env bash
# The whole test suite: set-up, both architectures built, every test run under Wine.
# Exit status is non-zero when anything fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/setup.sh"
source "$here/wine-env.sh"
zora_build_all
zora_wine_start

status=0
passed=0
failed=0
skipped=0
for arch in i686 x86_64; do
  if [ "$arch" = i686 ] && [ "$ZORA_WIN32" != 1 ]; then
    # Built above all the same; the x86_64 suite skips its cases that need a 32-bit peer.
    echo "test: i686 suite skipped: this machine cannot run 32-bit programs (Wine's 32-bit loader does not start)"
    continue
  fi
  log=$ZORA_BUILD/$arch/ctest.log
  if ! ctest --test-dir "$ZORA_BUILD/$arch" --output-on-failure "$@" 2>&1 | tee "$log"; then
    status=1
  fi
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -z "$summary" ]; then
    echo "test: no ctest summary for $arch"
    status=1
    continue
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  nfail=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  nskip=$(grep -c -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$log" || true)
  passed=$((passed + total - nfail - nskip))
  failed=$((failed + nfail))
  skipped=$((skipped + nskip))
done
[ "$failed" -eq 0 ] || status=1
echo "total: $passed passed, $failed failed, $skipped skipped"
exit $status
