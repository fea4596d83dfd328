#!/usr/bin/env bash
# Makes the build's own Wine prefix (32+64-bit, graphics driver "null") once.
set -euo pipefail
. "$(dirname "$0")/env.sh"
stamp=$WINEPREFIX/.vesk-ready-2
[ -f "$stamp" ] && exit 0
rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
echo "prefix: creating $WINEPREFIX"
WINEARCH=win64 wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# A crashing test program ends at once instead of waiting on the debugger (which hangs attaching
# to a 32-bit process under the emulator and would hold the test until its time-out).
for view in 32 64; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f /reg:$view \
    </dev/null >/dev/null 2>&1
done
wineserver -w
touch "$stamp"
