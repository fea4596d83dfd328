#!/usr/bin/env bash
# The main job's demonstration in the test prefix, after the installer step. Passes when the
# demonstration succeeds and its output shows, on both transports, every call succeeding, every
# queued label reported complete and every label arriving whole with what the application put
# on it; and when the prefix's device keys and Control Object registration are as before.
#
#   mainjob_test.sh <source folder> <build folder> <wine prefix>
set -uo pipefail
root=$1
export VESK_BUILD=$2 WINEPREFIX_OVERRIDE=$3
. "$root/scripts/env.sh"
batch=3
failed=0
fail() { echo "FAIL: $*"; failed=1; }
state() { # the label printer keys and the POSPrinter Control Object's server
  { wine reg query 'HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter' /reg:32
    wine reg query 'HKCR\CLSID\{CCB90152-B81E-11D2-AB74-0040054C3719}\InprocServer32' /reg:32; } </dev/null 2>/dev/null |
    tr -d '\r' | grep -v '^$' || true
}

wineserver -p </dev/null >/dev/null 2>&1 || true
before=$(state)
"$root/scripts/install.sh" >/dev/null || fail "scripts/install.sh failed"
out=$(bash "$root/scripts/demo.sh" "$batch" 2>&1); rc=$?
echo "$out"
[ $rc = 0 ] || fail "scripts/demo.sh ended with $rc"

# pattern (extended regular expression) | how many output lines must match it
checks=(
  "^== labeldemo VL420(_[0-9]+)? $batch \\(TCP 127\\.0\\.0\\.1:[0-9]+\\)$|1"
  "^== labeldemo VL420(_[0-9]+)? $batch \\(serial COM[0-9]+\\)$|1"
  "^ +Open\\(\"VL420(_[0-9]+)?\"\\) = 0 |2"
  "^ +MarkFeed\\(1\\) = 0 |$((2 * (batch + 1)))"
  "^ +event OutputCompleteEvent\\(OutputID=[0-9]+\\)$|$((2 * batch))"
  "^ +$batch of $batch labels reported complete$|2"
  "^ +CheckHealth\\(1\\) = 0 |2"
  "^ +Close\\(\\) = 0 |2"
  "^ +labeldemo: [0-9]+ events received; 0 calls failed$|2"
  "^check: as expected$|2"
  "^demo: every label arrived complete|1"
)
for c in "${checks[@]}"; do
  pattern=${c%|*} want=${c##*|}
  got=$(grep -cE "$pattern" <<<"$out" || true)
  [ "$got" = "$want" ] || fail "$got lines, not $want, match: $pattern"
done

after=$(state)
[ "$after" = "$before" ] || fail "the demonstration left the prefix changed: before
$before
after
$after"
[ $failed = 0 ] && echo "mainjob_test: passed"
exit $failed
