#!/usr/bin/env bash
# Configures and builds the three trees: host (test tools, sanitizer builds of the portable code),
# i686 (the 32-bit deliverables and their tests) and x86_64 (the device enable tool).
set -euo pipefail
. "$(dirname "$0")/env.sh"
"$VESK_ROOT/scripts/deps.sh"
jobs=${VESK_JOBS:-$(nproc)}
werror=${VESK_WERROR:-$([ "${CI:-}" = true ] && echo ON || echo OFF)}
conf() { # tree, extra args
  local tree=$1; shift
  cmake -S "$VESK_ROOT" -B "$VESK_BUILD/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVESK_WERROR="$werror" -DVESK_WINEPREFIX="$WINEPREFIX" -DVESK_HOST_BUILD="$VESK_BUILD/host" "$@" >/dev/null
  cmake --build "$VESK_BUILD/$tree" -j "$jobs"
}
conf host -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
conf i686 -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/mingw-i686.cmake"
conf x86_64 -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/mingw-x86_64.cmake"
"$VESK_ROOT/scripts/prefix.sh"
