#!/usr/bin/env bash
# The test emulator of a Windows tree: a process the program leaves behind does not hold the
# caller's pipe, a run that dies by a signal is made again and listed, a stalled start-up fails
# and names its step.
#   wine_run_test.sh <tree>/wine-run
set -uo pipefail
wine_run=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
expect() { # what, expected, got
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

# The program starts a process that inherits its output and lives on (as Wine's desktop can):
# the caller's pipe ends with the program, before that process has ended.
got=$("$wine_run" bash -c "(sleep 60 & echo \$! >'$tmp/child'; wait; touch '$tmp/ended') & echo started")
ended=no
[ -e "$tmp/ended" ] && ended=yes
[ -s "$tmp/child" ] && kill "$(cat "$tmp/child")" 2>/dev/null
expect "the output came through" started "$got"
expect "the pipe ended before the left process" no "$ended"

# Died by a signal: run again, and listed by name in the re-run list.
export VESK_RERUN_LOG=$tmp/reruns
rc=0
got=$("$wine_run" bash -c "[ -e '$tmp/once' ] || { touch '$tmp/once'; kill -SEGV \$\$; }; echo second" 2>/dev/null) || rc=$?
expect "the second run's exit code" 0 "$rc"
expect "the second run's output" second "$got"
expect "the re-run listed" "bash: died by signal 11, run again: exit code 0" "$(cat "$tmp/reruns" 2>/dev/null)"
rc=0
"$wine_run" bash -c "exit 3" >/dev/null 2>&1 || rc=$?
expect "a plain failure's exit code" 3 "$rc"
expect "a plain failure is not run again" 1 "$(wc -l <"$tmp/reruns")"

# A server start that stalls: the run fails within the bound and names the step.
mkdir "$tmp/bin"
printf '#!/bin/sh\nexec sleep 600\n' >"$tmp/bin/wineserver"
chmod +x "$tmp/bin/wineserver"
rc=0
err=$(PATH="$tmp/bin:$PATH" VESK_WINE_START_BOUND=2 "$wine_run" bash -c "echo ran" 2>&1 >/dev/null) || rc=$?
expect "a stalled start-up's exit code" 125 "$rc"
expect "the stalled step named" "wine-run: Wine's start-up stalled in the server's start (wineserver -p) (more than 2 s)" "$err"

[ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
