#!/usr/bin/env bash
# The main job's demonstration, after the build and scripts/install.sh: registers the test
# Control Object as the stand-in for the platform's POSPrinter Control Object (the product does
# not install one) and starts the printer simulator. Then the installed setup utility Brevanton,
# worked through its windows by tools/brevdriver as a user would, raises the serial port range
# to the simulator's COM port, adds a label printer on that port and one on Ethernet to the
# simulator's TCP port (with a logical device name) and runs the interactive CheckHealth on the
# serial one. The job shows the values Brevanton wrote and the test label, runs the example OPOS
# application tools/labeldemo on both devices (the Ethernet one opened by its logical name),
# prints what the printer received, parsed into labels and checked, and has Brevanton remove the
# devices again. A registration it replaced is put back; what a failure left in the registry is
# removed.
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
driver=$win/tools/brevdriver/brevdriver.exe
testco=$win/tools/testco/VeskTestCO.dll
for f in "$sim" "$report" "$app" "$driver" "$testco"; do
  [ -f "$f" ] || { echo "demo: $f is missing: build first (scripts/build.sh)" >&2; exit 1; }
done
serial_model=VL420 ethernet_model=VL820 ldn=ShopLabel

SERVICEINFO='HKLM\Software\OLEforRetail\ServiceInfo\VESK OPOS'
PRINTERS='HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter'
CO_KEY='HKCR\CLSID\{CCB90152-B81E-11D2-AB74-0040054C3719}\InprocServer32'
wreg() { { wine reg "$@" /reg:32 </dev/null 2>/dev/null || true; } | tr -d '\r'; }
# The value of a REG_SZ in the 32-bit view, empty when missing ("" for the default value).
regsz() {
  if [ -z "$2" ]; then wreg query "$1" /ve | sed -n 's/^ *(Default) *REG_SZ *//p' | head -1
  else wreg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_SZ *//p" | head -1; fi
}
# The label printer class key's device keys and its values (the logical-name aliases).
subkeys() { wreg query "$PRINTERS" | sed -n 's/^HKEY_LOCAL_MACHINE.*\\POSPrinter\\//p'; }
aliases() { wreg query "$PRINTERS" | sed -n 's/^    \([^ ].*\) \{4\}REG_SZ .*/\1/p'; }
regsvr() { wine 'C:\windows\syswow64\regsvr32.exe' /s "$@" </dev/null >/dev/null 2>&1; }
# A Windows program in the prefix, its output through a file (a Wine helper process that
# inherits the program's stdout must not hold a pipe), with the carriage returns taken out.
# Under qemu-i386 a 32-bit Wine process can die by a signal while it exits, after its work is
# done: such an end counts as the program's own when its output ends with the line it prints
# last on success (the first argument, a pattern).
winrun() {
  local finished=$1 out rc=0; shift
  out=$(mktemp)
  wine "$@" </dev/null >"$out" 2>&1 || rc=$?
  tr -d '\r' <"$out"
  case $rc in
    132|134|135|139)
      if tr -d '\r' <"$out" | tail -1 | grep -qE "$finished"; then
        echo "demo: ${1##*/} died by signal $((rc - 128)) after it had finished (the emulator, not the program)"
        rc=0
      fi;;
  esac
  rm -f "$out"
  return $rc
}

wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
installdir=$(regsz "$SERVICEINFO" Installdir)
if [ -z "$installdir" ] || [ -z "$(regsz "$SERVICEINFO" qlnadir)" ]; then
  echo "demo: the driver set is not installed in $WINEPREFIX: run scripts/install.sh (or scripts/main.sh) first" >&2
  exit 1
fi
brevanton="$installdir\\Brevanton.exe"
echo "demo: prefix $WINEPREFIX, install folder $installdir"

testco_win="Z:${testco//\//\\}"
previous_co=$(regsz "$CO_KEY" "")
echo "demo: registering the test Control Object $testco_win as the stand-in for the platform's"
echo "      POSPrinter Control Object {CCB90152-B81E-11D2-AB74-0040054C3719} (not part of the product)"
regsvr "$testco_win" || { echo "demo: registering the test Control Object failed" >&2; exit 1; }

keys_before=$(subkeys) aliases_before=$(aliases)
coproc SIM { exec "$sim" --wineprefix "$WINEPREFIX" </dev/null 2>/dev/null; }
simpid=$SIM_PID
cleanup() {
  # What a failed step left: device keys and aliases that were not there before.
  local k
  for k in $(subkeys); do
    grep -qxF "$k" <<<"$keys_before" || { echo "demo: removing the device key $k left behind"; wreg delete "$PRINTERS\\$k" /f >/dev/null; }
  done
  for k in $(aliases); do
    grep -qxF "$k" <<<"$aliases_before" || { echo "demo: removing the alias $k left behind"; wreg delete "$PRINTERS" /v "$k" /f >/dev/null; }
  done
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
read -r _ tep tport <<<"$(ctl TCP)"
ctl "STATUS $tep 00" >/dev/null
read -r _ sep com _ <<<"$(ctl SERIAL)"
ctl "STATUS $sep 00" >/dev/null
echo "demo: printer simulator at $addr: TCP 127.0.0.1:$tport, serial COM$com (a pty: flow control None)"
# The port range dialog offers at most 50 serial ports.
[ "$com" -le 50 ] || { echo "demo: the simulator's COM$com lies beyond any port range the setup utility offers" >&2; exit 1; }

echo
echo "== Brevanton adds the label printers (worked through its windows by tools/brevdriver)"
if ! added=$(winrun '^brevdriver: done$' "$driver" add "$brevanton" "$serial_model" "COM$com" "$ethernet_model" \
               "$tport" "$ldn"); then
  echo "$added" | sed 's/^/   /'
  echo "demo: FAILED"
  exit 1
fi
echo "$added" | grep -vE '^result: |^brevdriver: done$' | sed 's/^/   /'
range=$(sed -n 's/^result: range //p' <<<"$added")
read -r serial_key _ <<<"$(sed -n "s/^result: device \(.*\) COM$com -$/\1/p" <<<"$added")"
read -r ethernet_key _ <<<"$(sed -n "s/^result: device \(.*\) Ethernet $ldn$/\1/p" <<<"$added")"
if [ -z "$range" ] || [ -z "$serial_key" ] || [ -z "$ethernet_key" ]; then
  echo "demo: the driver did not say which devices it added" >&2
  exit 1
fi

echo
echo "== the values Brevanton wrote (32-bit registry view)"
wreg query "$PRINTERS" | grep -E "^    $ldn " | while read -r line; do echo "   $PRINTERS: $line"; done
for k in "$serial_key" "$ethernet_key"; do
  wreg query "$PRINTERS\\$k" | grep -v '^$' | sed 's/^/   /'
done

rc=0
echo
echo "== the CheckHealth test label (Print in the Service Object's dialog)"
if ctl "WAIT $sep labels 1 timeout=30000" >/dev/null; then
  "$report" "$addr" "$sep" "serial COM$com" | sed 's/^/   /' || rc=1
else
  rc=1
fi
ctl "CLEAR $sep" >/dev/null

# run <device name> <endpoint> <title>
run() {
  local name=$1 ep=$2 title=$3 ok=1
  echo
  echo "== labeldemo $name $batch ($title)"
  winrun ' 0 calls failed$' "$app" "$name" "$batch" | sed 's/^/   /' || ok=0
  if [ $ok = 1 ]; then
    ctl "WAIT $ep labels $((batch + 1)) timeout=30000" >/dev/null || ok=0
  fi
  echo
  "$report" "$addr" "$ep" "$title" "$batch" || ok=0
  [ $ok = 1 ] || rc=1
}
run "$serial_key" "$sep" "serial COM$com"
run "$ldn" "$tep" "TCP 127.0.0.1:$tport"

echo
echo "== Brevanton removes the devices again"
if removed=$(winrun '^brevdriver: done$' "$driver" remove "$brevanton" "$range" "$serial_key" "$ethernet_key"); then
  echo "$removed" | grep -v '^brevdriver: done$' | sed 's/^/   /'
else
  echo "$removed" | sed 's/^/   /'
  rc=1
fi

echo
[ $rc = 0 ] && echo "demo: every label arrived complete, as the application printed it" || echo "demo: FAILED"
exit $rc
