#!/usr/bin/env bash
# The installer step of the main job: puts the built deliverables into the build's Wine prefix
# as the product's installer does: the install folder with the libraries, programs and INF files,
# the ServiceInfo key in the 32-bit registry view, and the service object's COM registration.
# Deliverables that are not built yet are left out (and their registry paths left empty).
#
#   scripts/install.sh        VESK_BUILD as for the other scripts (run scripts/build.sh first)
set -euo pipefail
. "$(dirname "$0")/env.sh"
"$VESK_ROOT/scripts/prefix.sh"

INSTALLDIR_WIN='C:\Program Files (x86)\VESK OPOS'
INSTALLDIR="$WINEPREFIX/drive_c/Program Files (x86)/VESK OPOS"
SERVICEINFO='HKLM\Software\OLEforRetail\ServiceInfo\VESK OPOS'

# file name, build tree, folder of the tree that builds it
deliverables=(
  "com.dll i686 ports/com"
  "usb.dll i686 ports/usb"
  "net.dll i686 ports/net"
  "Quillan.dll i686 portmanager"
  "Corvane.dll i686 serviceobject"
  "Brevanton.exe i686 setup"
  "Halvirex.exe x86_64 devicetool"
)

wreg() { wine reg "$@" /reg:32 </dev/null >/dev/null 2>&1; }
regsz() { wreg add "$SERVICEINFO" /v "$1" /t REG_SZ /d "$2" /f || { echo "install: cannot write $1" >&2; exit 1; }; }

wineserver -p </dev/null >/dev/null 2>&1 || true
mkdir -p "$INSTALLDIR/Utility"

installed=()
declare -A path
for d in "${deliverables[@]}"; do
  read -r name tree folder <<<"$d"
  built=$(find "$VESK_BUILD/$tree/$folder" -maxdepth 2 -type f -name "$name" 2>/dev/null | head -1 || true)
  if [ -n "$built" ]; then
    cp -f "$built" "$INSTALLDIR/$name"
    path[$name]="$INSTALLDIR_WIN\\$name"
    installed+=("$name")
  else
    rm -f "$INSTALLDIR/$name"  # nothing stale from an earlier install
    path[$name]=""
  fi
done

# The INF files of the install folder, with the line ends the profile API expects.
infs=()
for f in "$VESK_ROOT"/inf/*.inf; do
  sed 's/\r*$/\r/' "$f" >"$INSTALLDIR/$(basename "$f")"
  infs+=("$(basename "$f")")
done

regsz Installdir "$INSTALLDIR_WIN"
regsz qlnadir "${path[Quillan.dll]}"
regsz qlndir "${path[Quillan.dll]}"
regsz comdir "${path[com.dll]}"
regsz lptdir ""  # the parallel-port library is not part of this driver set
regsz usbdir "${path[usb.dll]}"
regsz netdir "${path[net.dll]}"

registered=""
if [ -n "${path[Corvane.dll]}" ]; then
  if wine 'C:\windows\syswow64\regsvr32.exe' /s "${path[Corvane.dll]}" </dev/null >/dev/null 2>&1; then
    registered="Corvane.dll registered as an in-process COM server (32-bit)"
  else
    echo "install: registering Corvane.dll failed" >&2
    exit 1
  fi
fi

echo "install: prefix $WINEPREFIX"
echo "install: folder $INSTALLDIR_WIN"
echo "  programs and libraries: ${installed[*]:-(none built yet)}"
echo "  INF files: ${infs[*]}"
[ -n "$registered" ] && echo "  $registered"
echo "install: $SERVICEINFO (32-bit view)"
for v in Installdir qlnadir qlndir comdir lptdir usbdir netdir; do
  case $v in
    Installdir) val=$INSTALLDIR_WIN;;
    qlnadir|qlndir) val=${path[Quillan.dll]};;
    comdir) val=${path[com.dll]};;
    lptdir) val="";;
    usbdir) val=${path[usb.dll]};;
    netdir) val=${path[net.dll]};;
  esac
  printf '  %-10s %s\n' "$v" "${val:-(empty)}"
done
