#!/usr/bin/env bash
# The archive URIs the set-up scripts take from apt's configuration: from sample configurations
# in both forms, and from this machine's own.
set -uo pipefail
. "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

expect() { # what, expected, got
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# sample NAME FILE: the sample configuration NAME gets FILE (relative to it) from standard input.
sample() { mkdir -p "$tmp/$1/parts" "$tmp/$1/lists"; touch "$tmp/$1/sources.list"; cat >"$tmp/$1/$2"; }
uris_of() { # NAME SUITE: the URIs on one line
  apt_archive_uris "$2" -o Dir::Etc::SourceList="$tmp/$1/sources.list" -o Dir::Etc::SourceParts="$tmp/$1/parts" \
    -o Dir::State::Lists="$tmp/$1/lists" 2>>"$tmp/apt-warnings" | tr '\n' ' ' | sed 's/ $//'
}

# deb822: the release stanza, not the security one, nor a comment's address; several URIs, a
# continued field, lower-case names; a disabled stanza and a source-only one give nothing.
sample deb822 parts/debian.sources <<'SRC'
Types: deb
# http://snapshot.invalid/archive/debian/20250520T000000Z
URIs: http://archive.invalid/pool
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://archive.invalid/pool-security
Suites: bookworm-security
Components: main

types: deb
uris: http://b.invalid/pool
 file:/srv/mirror/debian
suites: bookworm
components: main

Types: deb
URIs: http://disabled.invalid/pool
Suites: bookworm
Components: main
Enabled: no

Types: deb-src
URIs: http://sources-only.invalid/pool
Suites: bookworm
Components: main
SRC
expect "deb822 release suite" "http://archive.invalid/pool/ http://b.invalid/pool/ file:/srv/mirror/debian/" \
  "$(uris_of deb822 bookworm)"
expect "deb822 security suite" "http://archive.invalid/pool-security/" "$(uris_of deb822 bookworm-security)"
expect "a suite no source carries" "" "$(uris_of deb822 trixie)"

# One-line form with options, a source-only and a commented entry; an archive in two files once.
sample oneline sources.list <<'SRC'
# deb http://commented.invalid/pool bookworm main
deb-src http://sources-only.invalid/pool bookworm main
deb [arch=amd64 trusted=no] http://one.invalid/pool bookworm main contrib
deb http://one.invalid/pool-security bookworm-security main
SRC
sample oneline parts/again.list <<'SRC'
deb [arch=amd64 trusted=no] http://one.invalid/pool bookworm main
deb http://two.invalid/pool bookworm non-free
SRC
expect "one-line form" "http://one.invalid/pool/ http://two.invalid/pool/" "$(uris_of oneline bookworm)"
sample empty sources.list </dev/null
expect "no sources at all" "" "$(uris_of empty bookworm)"

# This machine: some archive carries its release (it installs its packages from there), and each
# URI found is written in its apt sources.
. /etc/os-release
got=$(apt_archive_uris "$VERSION_CODENAME")
[ -n "$got" ] || expect "this machine's $VERSION_CODENAME sources" "at least one URI" ""
for uri in $got; do
  grep -rqsF -- "${uri%/}" /etc/apt/sources.list /etc/apt/sources.list.d/ && found=yes || found=no
  expect "$uri is in this machine's apt sources" yes "$found"
done
expect "on one line for a sources file" "$(echo $got)" "$(apt_archive_uris_or_fail "$VERSION_CODENAME" test)"
apt_archive_uris_or_fail no-such-suite test 2>"$tmp/err" && expect "a suite no source carries fails" failure success
expect "its reason" "test: no apt source of this machine carries the no-such-suite suite" "$(cat "$tmp/err")"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
