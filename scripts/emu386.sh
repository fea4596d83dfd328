#!/usr/bin/env bash
# Some virtual machines run no 32-bit Linux programs (IA-32 emulation off in the kernel: exec
# of an i386 ELF fails with ENOEXEC). The 32-bit Wine loader then runs under qemu's user-mode
# emulator, registered for i386 ELF programs through binfmt_misc. Wine reserves its address
# space with MAP_FIXED_NOREPLACE, which qemu before version 8 ignores: with it every 32-bit
# start takes about a minute. So the emulator is the static one of the next Debian release.
set -euo pipefail
loader=/usr/lib/wine/wine
emu=/usr/local/lib/vesk/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
[ -x "$loader" ] || { echo "emu386: $loader is missing" >&2; exit 1; }
if [ -e "$binfmt/qemu-i386" ] && grep -qx "interpreter $emu" "$binfmt/qemu-i386"; then exit 0; fi
if "$loader" --version >/dev/null 2>&1; then exit 0; fi

echo "emu386: this kernel runs no 32-bit programs; the 32-bit Wine loader runs under qemu-i386"
if [ ! -x "$emu" ]; then
  # The archive that carries this machine's release carries the next one too.
  . /etc/os-release
  . "$(dirname "$0")/aptsources.sh"
  uris=$(apt_archive_uris_or_fail "$VERSION_CODENAME" emu386)
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial" "$tmp/parts" "$tmp/x"
  cat >"$tmp/parts/next.sources" <<SRC
Types: deb
URIs: $uris
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$tmp/parts"
        -o Dir::State::Lists="$tmp/lists" -o Dir::Cache="$tmp/cache"
        -o APT::Architectures::=amd64 -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq
  (cd "$tmp" && apt-get "${opts[@]}" download -qq qemu-user)
  dpkg -x "$tmp"/qemu-user_*.deb "$tmp/x"
  install -D -m 755 "$tmp/x/usr/bin/qemu-i386" "$emu"
fi
mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
[ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
# i386 ELF executables and shared objects; F: the kernel holds the emulator open.
printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emu"':OCF' >"$binfmt/register"
"$loader" --version >/dev/null
