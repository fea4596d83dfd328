#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when something is missing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
      wine wine64 wine32:i386 cmake ninja-build googletest clang libclang-rt-14-dev
      xvfb imagemagick procps)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -eq 0 ]; then exec "$(dirname "$0")/emu386.sh"; fi
echo "deps: installing ${need[*]}"
if [ "$(id -u)" != 0 ]; then echo "deps: must run as root to install packages" >&2; exit 1; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync can fail one index (seen: the i386 security list); the others
# are still good, so a partial update is not fatal by itself.
for try in 1 2 3; do
  if apt-get update -qq; then break; fi
  if [ $try -lt 3 ]; then sleep 20; fi
done
apt_install() { apt-get install -y -qq --no-install-recommends "$@" "${need[@]}" >/dev/null; }
if ! apt_install; then
  # With one architecture's security list missing, the other's newer versions make the
  # multi-arch libraries of wine32 uninstallable. The release and updates suites alone are
  # consistent for both architectures.
  . /etc/os-release
  . "$(dirname "$0")/aptsources.sh"
  uris=$(apt_archive_uris_or_fail "$VERSION_CODENAME" deps)
  parts=$(mktemp -d)
  cat >"$parts/debian.sources" <<SRC
Types: deb
URIs: $uris
Suites: $VERSION_CODENAME $VERSION_CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  echo "deps: retrying from the $VERSION_CODENAME and $VERSION_CODENAME-updates suites only"
  apt_install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$parts"
  rm -rf "$parts"
fi
"$(dirname "$0")/emu386.sh"
