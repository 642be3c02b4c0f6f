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
for arch in i686 x86_64; do
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
  passed=$((passed + total - nfail))
  failed=$((failed + nfail))
done
[ "$failed" -eq 0 ] || status=1
echo "total: $passed passed, $failed failed"
exit $status
