#!/usr/bin/env bash
# Builds one benchmark program of the i686 tree and runs it beside a fresh printer simulator, in
# the build's Wine prefix.
#   tools/benchkit/simbench.sh <target>          (VESK_BUILD as for scripts/build.sh)
set -euo pipefail
. "$(dirname "$0")/../../scripts/env.sh"
target=$1
cmake --build "$VESK_BUILD/i686" --target "$target" >/dev/null
cmake --build "$VESK_BUILD/host" --target vesk-sim >/dev/null
# Output through a file: a Wine helper process that inherits the program's stdout must not keep a
# pipe of the caller open.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
rc=0
"$VESK_BUILD/host/tools/sim/vesk-sim-run" "$VESK_BUILD/i686/wine-run" \
    "$VESK_BUILD/i686/tools/$target/$target.exe" </dev/null >"$out" 2>&1 || rc=$?
tr -d '\r' <"$out"
exit $rc
