#!/usr/bin/env bash
# The test command: installs what is missing, builds all three trees, prepares the Wine prefix
# and runs every test of every tree.
set -euo pipefail
. "$(dirname "$0")/env.sh"
"$VESK_ROOT/scripts/build.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
status=0
# Every test program lists the cases it skipped here; the summary shows them.
export VESK_SKIP_LOG="$VESK_BUILD/skipped-tests.txt"
rm -f "$VESK_SKIP_LOG"
# And wine-run lists here each program it ran again after it died by a Linux signal.
export VESK_RERUN_LOG="$VESK_BUILD/rerun-tests.txt"
rm -f "$VESK_RERUN_LOG"
for tree in host i686 x86_64; do
  echo "== tests: $tree"
  ctest --test-dir "$VESK_BUILD/$tree" --output-on-failure -j "${VESK_TEST_JOBS:-4}" --timeout 600 || status=1
done
if [ -s "$VESK_SKIP_LOG" ]; then
  echo "== skipped: $(wc -l <"$VESK_SKIP_LOG") test cases"
  sort "$VESK_SKIP_LOG" | sed 's/^/   /'
else
  echo "== skipped: none"
fi
if [ -s "$VESK_RERUN_LOG" ]; then
  echo "== run again after a signal: $(wc -l <"$VESK_RERUN_LOG") programs"
  sort "$VESK_RERUN_LOG" | sed 's/^/   /'
else
  echo "== run again after a signal: none"
fi
exit $status
