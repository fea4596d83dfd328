#!/usr/bin/env bash
# The main job in the test prefix, after the installer step: the installed Brevanton, worked by
# tools/brevdriver, adds the two label printers, the example application prints through them and
# Brevanton removes them. Passes when the output shows every step of that road as the user saw
# it, the values Brevanton wrote, the CheckHealth test label and every label arriving whole;
# when the driver fails, naming what it waited for, on a road that cannot be taken; and when the
# prefix's device keys, aliases and Control Object registration are as before.
#
#   mainjob_test.sh <source folder> <build folder> <wine prefix>
set -uo pipefail
root=$1
export VESK_BUILD=$2 WINEPREFIX_OVERRIDE=$3
. "$root/scripts/env.sh"
batch=3
failed=0
fail() { echo "FAIL: $*"; failed=1; }
state() { # the label printer class key (aliases and device keys) and the POSPrinter Control Object's server
  { wine reg query 'HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter' /reg:32
    wine reg query 'HKCR\CLSID\{CCB90152-B81E-11D2-AB74-0040054C3719}\InprocServer32' /reg:32; } </dev/null 2>/dev/null |
    tr -d '\r' | grep -v -e '^$' -e '^reg:' -e '\\POSPrinter$' || true
}

wineserver -p </dev/null >/dev/null 2>&1 || true
before=$(state)
"$root/scripts/install.sh" >/dev/null || fail "scripts/install.sh failed"
out=$(bash "$root/scripts/demo.sh" "$batch" 2>&1); rc=$?
echo "$out"
[ $rc = 0 ] || fail "scripts/demo.sh ended with $rc"

q='"'
# pattern (extended regular expression) | how many output lines must match it
checks=(
  # what the user saw: the main dialog, the raised port range, the models, the two devices
  "^   window \"VESK OPOS Driver Set [0-9.]+\" \\(the main dialog\\)$|2"
  "^      Serial Ports Range [0-9]+ \\(1 - 50\\), Parallel ports Range [0-9]+ \\(1 - 10\\)$|2"
  "^      Serial Ports Range set to (2[0-9]|[3-4][0-9]|50); Save$|1"
  "^   key D: window \"Select Device Model\"$|2"
  "^      Device List \\(LabelPrinter\\): VL420, VL820$|2"
  "^      Port: COM1 to COM(2[0-9]|[3-4][0-9]|50) offered$|1"
  "^      Port COM[0-9]+, BaudRate 115200, Flow Control None$|1"
  "^      IP 127\\.0\\.0\\.1, Port [0-9]+$|1"
  "^      Logical Device Name\\(LDN\\) ShopLabel$|1"
  "^   message ${q}Brevanton${q}: ${q}Installed Success!${q}: OK$|2"
  "^   device summary:$|2"
  "^          (COM[0-9]+|Ethernet|ShopLabel|\\[Not Used\\])$|4"
  "^   key H: window \"Printer Check Health : - Interactive -VL420\"$|1"
  "^      print result: Success|1"
  "^   key X: Brevanton ended \\(exit code 0\\)$|2"
  # the values it wrote
  "^   HKLM.*\\\\POSPrinter: ShopLabel +REG_SZ +VL820$|1"
  "^       Port +REG_SZ +COM[0-9]+$|1"
  "^       HandShake +REG_SZ +None$|1"
  "^       Port +REG_SZ +Ethernet$|1"
  "^       TcpIp +REG_SZ +127\\.0\\.0\\.1$|1"
  "^       LDN +REG_SZ +ShopLabel$|1"
  # the CheckHealth test label, then the application on both devices
  "^   == the printer on serial COM[0-9]+ received [0-9]+ bytes: 1 labels \\(0 partial, 0 flagged\\)|1"
  "^== labeldemo VL420 $batch \\(serial COM[0-9]+\\)$|1"
  "^== labeldemo ShopLabel $batch \\(TCP 127\\.0\\.0\\.1:[0-9]+\\)$|1"
  "^ +Open\\(\"VL420\"\\) = 0 |1"
  "^ +Open\\(\"ShopLabel\"\\) = 0 |1"
  "^ +MarkFeed\\(1\\) = 0 |$((2 * (batch + 1)))"
  "^ +event OutputCompleteEvent\\(OutputID=[0-9]+\\)$|$((2 * batch))"
  "^ +$batch of $batch labels reported complete$|2"
  "^ +CheckHealth\\(1\\) = 0 |2"
  "^ +Close\\(\\) = 0 |2"
  "^ +labeldemo: [0-9]+ events received; 0 calls failed$|2"
  "^ *check: as expected$|3"
  # the removal
  "^   key R: message ${q}Remove Device\\(R\\)${q}: ${q}Are you sure you want to delete all setting information about VL[48]20\\?${q}: OK$|2"
  "^      Serial Ports Range set to [0-9]+; Save$|2"
  "^demo: every label arrived complete|1"
)
for c in "${checks[@]}"; do
  pattern=${c%|*} want=${c##*|}
  got=$(grep -cE "$pattern" <<<"$out" || true)
  [ "$got" = "$want" ] || fail "$got lines, not $want, match: $pattern"
done

# Roads the driver cannot take: it ends with 1, names what it waited for or what was missing, and
# leaves nothing running or written.
brevanton='C:\Program Files (x86)\VESK OPOS\Brevanton.exe'
driver=$VESK_BUILD/i686/tools/brevdriver/brevdriver.exe
# title | program | serial port | serial model | the failure it must name
failures=(
  "no window|C:\\windows\\system32\\notepad.exe|COM2|VL420|the main dialog of Brevanton did not appear within 3 s"
  "no program|C:\\none\\Brevanton.exe|COM2|VL420|cannot start C:\\none\\Brevanton.exe"
  "a port beyond every range|$brevanton|COM51|VL420|the Port Range dialog stayed open; Brevanton shows the message "
  "a model not offered|$brevanton|COM2|VL999|no model \"VL999\" is offered (VL420, VL820)"
)
for f in "${failures[@]}"; do
  IFS='|' read -r title program port model want <<<"$f"
  log=$(mktemp)
  wine "$driver" --wait 3 add "$program" "$model" "$port" VL820 9100 Nothing </dev/null >"$log" 2>&1; frc=$?
  got=$(tr -d '\r' <"$log"); rm -f "$log"
  [ $frc = 1 ] || fail "$title: the driver ended with $frc, not 1"
  grep -qF "brevdriver: FAILED: $want" <<<"$got" || fail "$title: the driver did not say \"$want\":
$got"
done

after=$(state)
[ "$after" = "$before" ] || fail "the main job left the prefix changed: before
$before
after
$after"
[ $failed = 0 ] && echo "mainjob_test: passed"
exit $failed
