#!/usr/bin/env bash
# The test command: installs what is missing, builds all three trees, prepares the Wine prefix
# and runs every test of every tree.
set -euo pipefail
. "$(dirname "$0")/env.sh"
"$VESK_ROOT/scripts/build.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
status=0
for tree in host i686 x86_64; do
  echo "== tests: $tree"
  ctest --test-dir "$VESK_BUILD/$tree" --output-on-failure -j "${VESK_TEST_JOBS:-4}" --timeout 600 || status=1
done
exit $status
