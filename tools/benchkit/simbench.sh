#!/usr/bin/env bash
# Builds one benchmark program of the i686 tree and runs it beside a fresh printer simulator, in
# the build's Wine prefix.
#   tools/benchkit/simbench.sh <target>          (VESK_BUILD as for scripts/build.sh)
# Each stage is bounded (VESK_BENCH_BOUND seconds for the run, 900 unless set): one that stalls
# fails and says which it was; the simulator, wine-run and the program name their own steps.
set -euo pipefail
. "$(dirname "$0")/../../scripts/env.sh"
target=$1
bound=${VESK_BENCH_BOUND:-900}
stage() { # what, bound, command...
  local what=$1 limit=$2 rc=0; shift 2
  timeout -k 10 "$limit" "$@" || rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "simbench: $target stalled in $what (more than $limit s)" >&2
  fi
  return "$rc"
}
stage "the build of $target" 1800 cmake --build "$VESK_BUILD/i686" --target "$target" >/dev/null
stage "the build of the simulator" 1800 cmake --build "$VESK_BUILD/host" --target vesk-sim >/dev/null
# wine-run keeps the program's helper processes off this pipe.
stage "its run" "$bound" "$VESK_BUILD/host/tools/sim/vesk-sim-run" "$VESK_BUILD/i686/wine-run" \
    "$VESK_BUILD/i686/tools/$target/$target.exe" </dev/null 2>&1 | tr -d '\r'
