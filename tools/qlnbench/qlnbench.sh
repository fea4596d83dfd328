#!/usr/bin/env bash
# Runs the benchmark beside a fresh printer simulator, in the build's Wine prefix.
#   tools/qlnbench/qlnbench.sh          (VESK_BUILD as for scripts/build.sh)
exec "$(dirname "$0")/../benchkit/simbench.sh" qlnbench
