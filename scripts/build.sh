#!/usr/bin/env bash
# Configures and builds the three trees: host (test tools, sanitizer builds of the portable code),
# i686 (the 32-bit deliverables and their tests) and x86_64 (the device enable tool).
set -euo pipefail
. "$(dirname "$0")/env.sh"
"$VESK_ROOT/scripts/deps.sh"
jobs=${VESK_JOBS:-$(nproc)}
werror=${VESK_WERROR:-$([ "${CI:-}" = true ] && echo ON || echo OFF)}
# VESK_QUIET=1: one line per tree; the full output goes to $VESK_BUILD/build.log, and on a
# failure its last lines are shown.
quiet=${VESK_QUIET:-0}
log=$VESK_BUILD/build.log
if [ "$quiet" = 1 ]; then
  mkdir -p "$VESK_BUILD"; : >"$log"
  echo "build: the full build log is $log"
fi
conf() { # tree, extra args
  local tree=$1; shift
  if [ "$quiet" != 1 ]; then
    cmake -S "$VESK_ROOT" -B "$VESK_BUILD/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DVESK_WERROR="$werror" -DVESK_WINEPREFIX="$WINEPREFIX" -DVESK_HOST_BUILD="$VESK_BUILD/host" "$@" >/dev/null
    cmake --build "$VESK_BUILD/$tree" -j "$jobs"
    return
  fi
  local start=$SECONDS out; out=$(mktemp)
  echo "== $tree tree" >>"$log"
  if cmake -S "$VESK_ROOT" -B "$VESK_BUILD/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
           -DVESK_WERROR="$werror" -DVESK_WINEPREFIX="$WINEPREFIX" -DVESK_HOST_BUILD="$VESK_BUILD/host" "$@" \
           >"$out" 2>&1 && cmake --build "$VESK_BUILD/$tree" -j "$jobs" >>"$out" 2>&1; then
    cat "$out" >>"$log"
    local steps; steps=$(grep -cE '^\[[0-9]+/[0-9]+\]' "$out" || true)
    if grep -q 'no work to do' "$out"; then
      echo "build: $tree tree up to date"
    else
      echo "build: $tree tree built ($steps steps, $((SECONDS - start)) s)"
    fi
    rm -f "$out"
  else
    cat "$out" >>"$log"; rm -f "$out"
    echo "build: $tree tree FAILED; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}
conf host -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
conf i686 -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/mingw-i686.cmake"
conf x86_64 -DCMAKE_TOOLCHAIN_FILE="$VESK_ROOT/cmake/mingw-x86_64.cmake"
"$VESK_ROOT/scripts/prefix.sh"
