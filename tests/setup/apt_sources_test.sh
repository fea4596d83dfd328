#!/usr/bin/env bash
# The archive URIs the set-up scripts take from apt's configuration: from sample configurations
# in both forms, and from this machine's own configuration as apt itself lists it.
set -uo pipefail
. "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# uris_of NAME SUITE: apt_archive_uris over the sample configuration NAME, on one line.
uris_of() {
  local dir=$tmp/$1
  mkdir -p "$dir/parts" "$dir/lists"
  touch "$dir/sources.list"
  apt_archive_uris "$2" -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts" \
    -o Dir::State::Lists="$dir/lists" 2>>"$tmp/apt-warnings" | tr '\n' ' ' | sed 's/ $//'
}

expect() { # what, expected, got
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

# deb822: the release stanza, not the security one, nor a comment's address.
mkdir -p "$tmp/deb822/parts"
cat >"$tmp/deb822/parts/debian.sources" <<'SRC'
Types: deb
# http://snapshot.invalid/archive/debian/20250520T000000Z
URIs: http://archive.invalid/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://archive.invalid/debian-security
Suites: bookworm-security
Components: main
SRC
expect "deb822 release suite" "http://archive.invalid/debian/" "$(uris_of deb822 bookworm)"
expect "deb822 security suite" "http://archive.invalid/debian-security/" "$(uris_of deb822 bookworm-security)"
expect "deb822 suite nobody carries" "" "$(uris_of deb822 trixie)"

# One-line form with options, a source-only entry, a commented entry; two files carrying the
# same archive give it once.
mkdir -p "$tmp/oneline/parts"
cat >"$tmp/oneline/sources.list" <<'SRC'
# deb http://commented.invalid/debian bookworm main
deb-src http://sources-only.invalid/debian bookworm main
deb [arch=amd64 trusted=no] http://one.invalid/debian bookworm main contrib
deb http://one.invalid/debian-security bookworm-security main
SRC
cat >"$tmp/oneline/parts/again.list" <<'SRC'
deb [arch=amd64 trusted=no] http://one.invalid/debian bookworm main
deb http://two.invalid/debian bookworm non-free
SRC
expect "one-line form" "http://one.invalid/debian/ http://two.invalid/debian/" "$(uris_of oneline bookworm)"

# deb822 with several URIs, a continued field, lower-case field names and a disabled stanza,
# beside a one-line file.
mkdir -p "$tmp/mixed/parts"
cat >"$tmp/mixed/parts/m.sources" <<'SRC'
types: deb deb-src
uris: http://a.invalid/debian
 file:/srv/mirror/debian
suites: bookworm
components: main

Types: deb
URIs: http://disabled.invalid/debian
Suites: bookworm
Components: main
Enabled: no
SRC
cat >"$tmp/mixed/parts/z.list" <<'SRC'
deb http://z.invalid/debian bookworm main
SRC
expect "mixed forms" "http://a.invalid/debian/ file:/srv/mirror/debian/ http://z.invalid/debian/" "$(uris_of mixed bookworm)"
expect "no configuration at all" "" "$(uris_of empty bookworm)"

# The machine's own configuration: at least one archive carries its release (it installs its
# packages from there), each URI found is written in its source files, and the archive of the
# security suite alone is not among them.
. /etc/os-release
got=$(apt_archive_uris "$VERSION_CODENAME")
[ -n "$got" ] || expect "this machine's $VERSION_CODENAME sources" "at least one URI" ""
for uri in $got; do
  if grep -rqsF -- "${uri%/}" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "ok: $uri is in this machine's apt sources"
  else
    expect "$uri in this machine's apt sources" "found" "missing"
  fi
done
security=$(apt_archive_uris "$VERSION_CODENAME-security")
for uri in $security; do
  case " $(echo $got) " in
  *" $uri "*) expect "security-only archive $uri" "not a release source" "listed" ;;
  esac
done
if [ -n "$got" ]; then
  expect "this machine's sources on one line" "$(echo $got)" "$(apt_archive_uris_or_fail "$VERSION_CODENAME" test)"
fi
if apt_archive_uris_or_fail no-such-suite test 2>"$tmp/err"; then
  expect "a suite nobody carries fails" "failure" "success"
else
  expect "a suite nobody carries fails with its reason" "test: no apt source of this machine carries the no-such-suite suite" "$(cat "$tmp/err")"
fi

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
