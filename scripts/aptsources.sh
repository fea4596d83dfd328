# Sourced by the set-up scripts: where the machine's own apt configuration gets its packages, so
# the sources the scripts make use the same archive and no script names one.
#
# apt_archive_uris SUITE [apt option ...]: the URIs of the binary ("deb") sources that carry
# SUITE, once each, in apt's own order. apt reads the configuration itself (sources.list and
# sources.list.d, one-line or deb822 form, disabled entries and options included); the options
# let a caller point it at other files (Dir::Etc::SourceList, Dir::Etc::SourceParts).
apt_archive_uris() {
  local suite=$1
  shift
  apt-get indextargets --no-release-info "$@" --format '$(TARGET_OF) $(RELEASE) $(REPO_URI)' |
    awk -v suite="$suite" '$1 == "deb" && $2 == suite && !seen[$3]++ { print $3 }'
}

# apt_archive_uris_or_fail SUITE WHO: the same URIs on one line; a clear error when there is none.
apt_archive_uris_or_fail() {
  local uris
  uris=$(apt_archive_uris "$1" | tr '\n' ' ')
  uris=${uris% }
  if [ -z "$uris" ]; then
    echo "$2: no apt source of this machine carries the $1 suite" >&2
    return 1
  fi
  printf '%s\n' "$uris"
}
