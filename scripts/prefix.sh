#!/usr/bin/env bash
# Makes the build's own Wine prefix (32+64-bit, graphics driver "null") once.
set -euo pipefail
. "$(dirname "$0")/env.sh"
stamp=$WINEPREFIX/.vesk-ready
[ -f "$stamp" ] && exit 0
rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
echo "prefix: creating $WINEPREFIX"
WINEARCH=win64 wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
wineserver -w
touch "$stamp"
