#!/usr/bin/env bash
# apt-get that rides out a Debian mirror in the middle of a sync, and a
# package lock held for a while by another apt-get on the same machine.
#
# Usage, executed:  scripts/apt-retry.sh [--arch ARCH]... update|install|download ARGS...
#        sourced:   . scripts/apt-retry.sh; apt_retry [--arch ARCH]... update|install|download ARGS...
#
# Runs `apt-get COMMAND ARGS` (through sudo when not root) and, when it fails,
# says so on stderr and tries again after a growing pause; after the last try
# it fails with apt's own messages and exit status. Before trying an install
# or a download again it refreshes the package lists, since a mirror that
# moved on answers 404 for the files the old lists name.
#
# `apt-get update` fetches an index for every architecture dpkg knows
# (`dpkg --add-architecture`), and fails when one of them cannot be used (a
# size or hash mismatch while the mirror syncs), keeping the lists it had.
#  - An index of an architecture the caller does not need (neither this
#    machine's own nor one named with --arch) is reported and passed over at
#    once.
#  - An index of one it needs is tried again; when it still fails after the
#    last try, the update goes on with the lists apt has, saying so: an
#    install or download that needs what they lack then fails with apt's
#    message, and one that does not is not held up by a mirror that stays
#    inconsistent.
#  - Any other error (a lock, a missing Release file) fails after the last try.
#
# Environment: AXISWARP_APT_PAUSES, the pauses in seconds before each further
#   try (default "10 20 30 60": five tries over two minutes).

apt_retry_pauses_default="10 20 30 60"

# What apt-get update's stderr in $1 reports, for the architectures named in
# $2 (space-separated) as needed: "none" (no index failed, no error),
# "unneeded" (indexes failed, each of an architecture not needed), "needed"
# (indexes failed, one of them of a needed architecture or of none, such as
# a Release file) or "other" (an error that is not a failed index).
# apt's lines: "E: Failed to fetch URL  REASON" for an index it could not use,
# "W: Failed to fetch URL  REASON" for a network failure it passed over
# itself, and a closing "E: Some index files failed to download. ..." (or W:).
apt_retry_read_update() {
  local log=$1 needed=" $2 " line url arch found=none
  while IFS= read -r line; do
    case "$line" in
      [WE]": Failed to fetch "*)
        url=${line#?: Failed to fetch }
        url=${url%% *}
        arch=""
        if [[ "$url" =~ /binary-([a-z0-9]+)/ || "$url" =~ /(Contents|Components)-([a-z0-9]+) ]]; then
          arch=${BASH_REMATCH[${#BASH_REMATCH[@]}-1]}
        fi
        if [ -z "$arch" ] || [[ "$needed" == *" $arch "* ]]; then
          found=needed
        elif [ "$found" = none ]; then
          found=unneeded
        fi
        ;;
      [WE]": Some index files failed to download"*) ;;
      "E: "*) echo other; return ;;
    esac
  done <"$log"
  echo "$found"
}

apt_retry() {
  local needed
  needed="$(dpkg --print-architecture 2>/dev/null || echo amd64) all"
  while [ $# -gt 0 ]; do
    case "$1" in
      --arch) needed+=" $2"; shift 2 ;;
      *) break ;;
    esac
  done
  local command=${1:-}
  case "$command" in
    update | install | download) ;;
    *) echo "apt-retry: expected update, install or download, got '${command}'" >&2; return 2 ;;
  esac
  local -a sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  local -a pauses
  read -r -a pauses <<<"${AXISWARP_APT_PAUSES-$apt_retry_pauses_default}"
  local tries=$((${#pauses[@]} + 1)) try status log read started=$SECONDS
  log=$(mktemp) || return 1
  for ((try = 1; try <= tries; try++)); do
    if [ "$try" -gt 1 ] && [ "$command" != update ]; then
      # Lists as the mirror has them now; an update that fails here is
      # reported by the try that follows.
      DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -qq >/dev/null 2>&1 || true
    fi
    status=0
    # Another apt-get on this machine holds the package lock for minutes at
    # most: wait for it rather than fail at once.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=120 "$@" 2>"$log" || status=$?
    if [ "$command" = update ]; then
      read=$(apt_retry_read_update "$log" "$needed")
      if [ "$read" = unneeded ]; then
        cat "$log" >&2
        echo "apt-retry: every index that failed above is of an architecture not needed here (needed: $needed); going on without it" >&2
        rm -f "$log"
        return 0
      fi
      if [ "$read" = needed ]; then
        if [ "$try" -eq "$tries" ]; then
          cat "$log" >&2
          echo "apt-retry: the indexes above still fail after $tries tries in $((SECONDS - started)) s; going on with the package lists apt has (a package they lack fails the step that needs it)" >&2
          rm -f "$log"
          return 0
        fi
        # Worth another try even where apt-get passed over it itself.
        [ "$status" -ne 0 ] || status=100
      fi
    fi
    if [ "$status" -eq 0 ]; then
      cat "$log" >&2
      rm -f "$log"
      return 0
    fi
    if [ "$try" -lt "$tries" ]; then
      local pause=${pauses[try - 1]}
      echo "apt-retry: 'apt-get $*' failed (exit status $status, try $try of $tries): $(grep -m 1 '^E: ' "$log" || tail -n 1 "$log"); trying again in ${pause} s" >&2
      sleep "$pause"
    fi
  done
  cat "$log" >&2
  rm -f "$log"
  echo "apt-retry: 'apt-get $*' failed $tries times in $((SECONDS - started)) s; giving up" >&2
  return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  apt_retry "$@"
fi
