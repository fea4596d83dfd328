#!/usr/bin/env bash
# The main job's demonstration, after the build and scripts/install.sh: registers the test
# Control Object as the stand-in for the platform's POSPrinter Control Object (the product does
# not install one), starts the printer simulator, makes a label printer device key from
# lbprn.inf for a TCP and for a serial endpoint (tools/labeldemo/labelkey, through the setup
# utility's device key code), runs the example OPOS application tools/labeldemo on each and
# prints what the printer received, parsed into labels and checked. Everything it added to the
# prefix is removed again at the end, and a registration it replaced is put back.
#
#   scripts/demo.sh [batch labels]        VESK_BUILD as for the other scripts
set -euo pipefail
. "$(dirname "$0")/env.sh"
batch=${1:-5}
case $batch in ''|*[!0-9]*) echo "demo: the batch count must be a number" >&2; exit 2;; esac
host=$VESK_BUILD/host
win=$VESK_BUILD/i686
sim=$host/tools/sim/vesk-sim
report=$host/tools/labeldemo/labelreport
app=$win/tools/labeldemo/labeldemo.exe
keytool=$win/tools/labeldemo/labelkey.exe
testco=$win/tools/testco/VeskTestCO.dll
for f in "$sim" "$report" "$app" "$keytool" "$testco"; do
  [ -f "$f" ] || { echo "demo: $f is missing: build first (scripts/build.sh)" >&2; exit 1; }
done

SERVICEINFO='HKLM\Software\OLEforRetail\ServiceInfo\VESK OPOS'
CO_KEY='HKCR\CLSID\{CCB90152-B81E-11D2-AB74-0040054C3719}\InprocServer32'
wreg() { { wine reg "$@" /reg:32 </dev/null 2>/dev/null || true; } | tr -d '\r'; }
# The value of a REG_SZ in the 32-bit view, empty when missing ("" for the default value).
regsz() {
  if [ -z "$2" ]; then wreg query "$1" /ve | sed -n 's/^ *(Default) *REG_SZ *//p' | head -1
  else wreg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_SZ *//p" | head -1; fi
}
regsvr() { wine 'C:\windows\syswow64\regsvr32.exe' /s "$@" </dev/null >/dev/null 2>&1; }
# A Windows program of the build, its output through a file (a Wine helper process that inherits
# the program's stdout must not hold a pipe), with the carriage returns taken out.
winrun() {
  local out rc=0; out=$(mktemp)
  "$win/wine-run" "$@" </dev/null >"$out" 2>&1 || rc=$?
  tr -d '\r' <"$out"; rm -f "$out"
  return $rc
}

wineserver -p </dev/null >/dev/null 2>&1 || true
installdir=$(regsz "$SERVICEINFO" Installdir)
if [ -z "$installdir" ] || [ -z "$(regsz "$SERVICEINFO" qlnadir)" ]; then
  echo "demo: the driver set is not installed in $WINEPREFIX: run scripts/install.sh (or scripts/main.sh) first" >&2
  exit 1
fi
echo "demo: prefix $WINEPREFIX, install folder $installdir"

testco_win="Z:${testco//\//\\}"
previous_co=$(regsz "$CO_KEY" "")
echo "demo: registering the test Control Object $testco_win as the stand-in for the platform's"
echo "      POSPrinter Control Object {CCB90152-B81E-11D2-AB74-0040054C3719} (not part of the product)"
regsvr "$testco_win" || { echo "demo: registering the test Control Object failed" >&2; exit 1; }

coproc SIM { exec "$sim" --wineprefix "$WINEPREFIX" </dev/null 2>/dev/null; }
simpid=$SIM_PID
keys=()
cleanup() {
  for k in "${keys[@]}"; do winrun "$keytool" remove "$k" >/dev/null || true; done
  if [ -z "$previous_co" ]; then
    regsvr /u "$testco_win" || true
  elif [ "$previous_co" != "$testco_win" ]; then
    regsvr "$previous_co" || true
  fi
  kill -TERM "$simpid" 2>/dev/null || true
  wait "$simpid" 2>/dev/null || true
}
trap cleanup EXIT
read -r -t 30 addr <&"${SIM[0]}" || { echo "demo: the simulator did not start" >&2; exit 1; }
exec 5<>"/dev/tcp/${addr%:*}/${addr#*:}"
ctl() { echo "$*" >&5; local a; read -r -t 90 a <&5; a=${a%$'\r'}; [ "${a%% *}" = OK ] || { echo "demo: simulator: $* -> $a" >&2; return 1; }; echo "$a"; }
echo "demo: printer simulator at $addr"

rc=0
# run <endpoint> <title> <labelkey arguments...>
run() {
  local ep=$1 title=$2; shift 2
  echo
  echo "== device key for $title"
  local made key
  if ! made=$(winrun "$keytool" add VL420 "$@"); then
    echo "$made" | sed 's/^/   /'; rc=1; return
  fi
  echo "$made" | sed '$d' | sed 's/^/   /'
  key=$(echo "$made" | sed -n 's/^key //p' | tail -1)
  keys+=("$key")
  echo
  echo "== labeldemo $key $batch ($title)"
  local ok=1
  winrun "$app" "$key" "$batch" | sed 's/^/   /' || ok=0
  if [ $ok = 1 ]; then
    ctl "WAIT $ep labels $((batch + 1)) timeout=30000" >/dev/null || ok=0
  fi
  echo
  "$report" "$addr" "$ep" "$title" "$batch" || ok=0
  [ $ok = 1 ] || rc=1
}

read -r _ tep tport <<<"$(ctl TCP)"
ctl "STATUS $tep 00" >/dev/null
run "$tep" "TCP 127.0.0.1:$tport" tcp 127.0.0.1 "$tport"

read -r _ sep com _ <<<"$(ctl SERIAL)"
ctl "STATUS $sep 00" >/dev/null
run "$sep" "serial COM$com" serial "COM$com" 115200

echo
[ $rc = 0 ] && echo "demo: every label arrived complete, as the application printed it" || echo "demo: FAILED"
exit $rc
