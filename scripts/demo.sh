#!/usr/bin/env bash
# The main job's demonstration, after the build and scripts/install.sh: starts the printer
# simulator with a serial endpoint (and a TCP endpoint once the network transport is
# installed), registers a label printer device key for each as the setup utility would, runs
# tools/qlndemo through Wine in the build's prefix (Quillan loaded by the registered path, the
# transports loaded by Quillan) and prints what the printer received, parsed into labels.
#
#   scripts/demo.sh [labels]        VESK_BUILD as for the other scripts; VESK_DEMO_LOG=1 logs
set -euo pipefail
. "$(dirname "$0")/env.sh"
labels=${1:-2}
host=$VESK_BUILD/host
win=$VESK_BUILD/i686
sim=$host/tools/sim/vesk-sim
report=$host/tools/qlndemo/qlnreport
demo=$win/tools/qlndemo/qlndemo.exe
for f in "$sim" "$report" "$demo"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "demo: $f is missing: build first (scripts/build.sh)" >&2; exit 1; }
done

SERVICEINFO='HKLM\Software\OLEforRetail\ServiceInfo\VESK OPOS'
DEVICES='HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter'
wreg() { { wine reg "$@" /reg:32 </dev/null 2>/dev/null || true; } | tr -d '\r'; }
# The value of a REG_SZ in the 32-bit view, empty when missing.
regsz() { wreg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_SZ *//p" | head -1; }
# A Windows path to a file the Linux side can check.
unixpath() { local p=${1//\\//}; case "$p" in [Zz]:*) echo "${p:2}";; [A-Za-z]:*) echo "$WINEPREFIX/drive_${p:0:1}${p:2}" | sed 's#drive_C#drive_c#';; *) echo "$p";; esac; }

wineserver -p </dev/null >/dev/null 2>&1 || true
qln=$(regsz "$SERVICEINFO" qlnadir); [ -n "$qln" ] || qln=$(regsz "$SERVICEINFO" qlndir)
if [ -z "$qln" ]; then
  echo "demo: no qlnadir/qlndir under $SERVICEINFO in $WINEPREFIX: run scripts/install.sh (or scripts/main.sh) first" >&2
  exit 1
fi
installdir=$(regsz "$SERVICEINFO" Installdir)
netdir=$(regsz "$SERVICEINFO" netdir)
echo "demo: prefix $WINEPREFIX, Quillan $qln, install folder ${installdir:-(none)}"

# The simulator, stopped (with its COM links removed) whatever happens below.
coproc SIM { exec "$sim" --wineprefix "$WINEPREFIX" </dev/null 2>/dev/null; }
simpid=$SIM_PID
added=()
cleanup() {
  for k in "${added[@]}"; do wreg delete "$k" /f >/dev/null || true; done
  kill -TERM "$simpid" 2>/dev/null || true
  wait "$simpid" 2>/dev/null || true
}
trap cleanup EXIT
read -r -t 30 addr <&"${SIM[0]}" || { echo "demo: the simulator did not start" >&2; exit 1; }
exec 5<>"/dev/tcp/${addr%:*}/${addr#*:}"
ctl() { echo "$*" >&5; local a; read -r -t 60 a <&5; a=${a%$'\r'}; [ "${a%% *}" = OK ] || { echo "demo: simulator: $* -> $a" >&2; return 1; }; echo "$a"; }

# A label printer device key as the setup utility writes it.
device() { # name, then value/type/data triples
  local key="$DEVICES\\$1"; shift
  wreg add "$key" /ve /d "VESK.LabelPrinter.ServiceObject.1.13" /f >/dev/null
  while [ $# -ge 3 ]; do wreg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null; shift 3; done
  if [ -n "$installdir" ]; then wreg add "$key" /v inf /t REG_SZ /d "$installdir\\lbprn.inf" /f >/dev/null; fi
  wreg add "$key" /v Log /t REG_DWORD /d "${VESK_DEMO_LOG:-0}" /f >/dev/null
  added+=("$key")
}

# run_demo <device> <endpoint> <title>
rc=0
run_demo() {
  echo
  echo "== qlndemo $1 ($3)"
  # Through a file: a Wine helper process that inherits the program's stdout must not hold a pipe.
  local out; out=$(mktemp)
  "$win/wine-run" "$demo" "$1" "$labels" </dev/null >"$out" 2>&1 || rc=1
  tr -d '\r' <"$out" | sed 's/^/   /'
  rm -f "$out"
  ctl "WAIT $2 labels $labels timeout=10000" >/dev/null || rc=1
  "$report" "$addr" "$2" "$3" || rc=1
}

read -r _ sep com _ <<<"$(ctl SERIAL)"
ctl "STATUS $sep 00" >/dev/null
device VESKDemoSerial Port REG_SZ "COM$com" BaudRate REG_SZ 115200 BitLength REG_SZ 8 Parity REG_SZ 0 \
       Stop REG_SZ 0 HandShake REG_SZ None InputBuf REG_SZ 4096 OutputBuf REG_SZ 4096 UsingBT REG_DWORD 0
run_demo VESKDemoSerial "$sep" "serial COM$com"

if [ -n "$netdir" ] && [ -f "$(unixpath "$netdir")" ]; then
  read -r _ tep tport <<<"$(ctl TCP)"
  ctl "STATUS $tep 00" >/dev/null
  device VESKDemoTcp Port REG_SZ Ethernet TcpIp REG_SZ 127.0.0.1 TcpPort REG_DWORD "$tport" \
         InputBuf REG_SZ 4096 OutputBuf REG_SZ 4096
  run_demo VESKDemoTcp "$tep" "TCP 127.0.0.1:$tport"
else
  echo
  echo "== TCP: the network transport is not installed (no netdir), skipped"
fi
echo
[ $rc = 0 ] && echo "demo: every label arrived complete" || echo "demo: FAILED"
exit $rc
