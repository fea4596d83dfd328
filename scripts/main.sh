#!/usr/bin/env bash
# The main job: installs what is missing, builds the three trees (one line each; the full log
# goes to a file it names), installs the deliverables into the build's Wine prefix as the
# product's installer does, and prints labels through them (scripts/demo.sh).
set -euo pipefail
. "$(dirname "$0")/env.sh"
VESK_QUIET=1 "$VESK_ROOT/scripts/build.sh"
"$VESK_ROOT/scripts/install.sh"
if [ -f "$VESK_ROOT/scripts/demo.sh" ]; then
  bash "$VESK_ROOT/scripts/demo.sh" "$@"
else
  echo "main: nothing to print with yet (no scripts/demo.sh)"
fi
