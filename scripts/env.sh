# Sourced by the other scripts: where the build trees and the Wine prefix live.
VESK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VESK_BUILD=${VESK_BUILD:-$VESK_ROOT/build}
WINEPREFIX=${WINEPREFIX_OVERRIDE:-$VESK_BUILD/wineprefix}
export VESK_ROOT VESK_BUILD WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
