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
# A program that failed or hung is run once more, alone, and named in the summary: on a fresh
# prefix two Wine programs have been seen to hang together mid-test (each passed when run again);
# a fault of the code fails both runs.
retried=()
for tree in host i686 x86_64; do
  echo "== tests: $tree"
  if ! ctest --test-dir "$VESK_BUILD/$tree" --output-on-failure -j "${VESK_TEST_JOBS:-4}" --timeout 600; then
    failed=$VESK_BUILD/$tree/Testing/Temporary/LastTestsFailed.log
    [ -s "$failed" ] && while IFS=: read -r _ name; do retried+=("$tree/$name"); done <"$failed"
    echo "== tests: $tree, the failed ones once more"
    ctest --test-dir "$VESK_BUILD/$tree" --output-on-failure --rerun-failed --timeout 600 || status=1
  fi
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
if [ ${#retried[@]} -gt 0 ]; then
  echo "== run again after a failure: ${#retried[@]} programs"
  printf '   %s\n' "${retried[@]}"
else
  echo "== run again after a failure: none"
fi
exit $status
