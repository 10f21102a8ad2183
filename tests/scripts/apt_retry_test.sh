#!/usr/bin/env bash
# scripts/apt-retry.sh against a stand-in apt-get on PATH that fails a given
# number of times with apt's own messages, then succeeds (or never does).
# Usage: apt_retry_test.sh PATH/TO/apt-retry.sh
set -uo pipefail
helper=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"

# The stand-in: counts its calls per subcommand in $scratch/calls, and fails
# the first $FAILS calls of $FAILING (all of them when FAILS is "always")
# with the text in $MESSAGE on stderr and exit status $STATUS.
cat >"$scratch/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
command=""
for arg in "$@"; do
  case "$arg" in update | install | download) command=$arg; break ;; esac
done
echo "$command" >>"$SCRATCH/calls"
if [ "$command" = "$FAILING" ]; then
  done_calls=$(grep -cx "$command" "$SCRATCH/calls")
  if [ "$FAILS" = always ] || [ "$done_calls" -le "$FAILS" ]; then
    cat "$MESSAGE" >&2
    exit "$STATUS"
  fi
fi
echo "stand-in apt-get $command: done"
EOF
# This machine's architecture, and i386 added as a foreign one.
cat >"$scratch/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) echo i386 ;;
esac
EOF
# Not root: sudo would reset PATH, so it is stood in for too.
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$scratch/bin/sudo"
chmod +x "$scratch/bin/"*

# apt-get update's own lines for an index it could not use while the mirror
# syncs ({ARCH} is replaced), and for a lock held by another apt-get.
fetch_failed() {
  cat <<EOF
E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-$1/Packages.xz  File has unexpected size (8780360 != 8780376). Mirror sync in progress? [IP: 192.0.2.7 80]
   Hashes of expected file:
    - Filesize:8780376 [weak]
    - SHA256:5bd4a0fa3a7a8bd8d5d4b1a1f0b1e3b7c06c5ee6d2f1e3cc0c5bd2f7c8e6a5d1
   Release file created at: Sat, 17 May 2025 09:10:13 +0000
EOF
}
summary="E: Some index files failed to download. They have been ignored, or old ones used instead."
fetch_failed i386 >"$scratch/i386.txt"; echo "$summary" >>"$scratch/i386.txt"
fetch_failed amd64 >"$scratch/amd64.txt"; echo "$summary" >>"$scratch/amd64.txt"
{ fetch_failed i386; fetch_failed amd64; echo "$summary"; } >"$scratch/both.txt"
# A network failure apt passes over itself (exit status 0), for i386.
sed -e 's/^E: Failed/W: Failed/' -e 's/^E: Some/W: Some/' "$scratch/i386.txt" >"$scratch/i386-warned.txt"
echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >"$scratch/lock.txt"
echo "E: Unable to locate package libpng16-16:i386" >"$scratch/locate.txt"

failures=0
# name | helper arguments | failing subcommand | fails | message | status |
#   expected exit status | expected calls of the failing subcommand | expected
#   update calls | text expected on stderr (| separated fragments, in order)
cases=(
  "mirror syncing: update passes on its third try|update -qq|update|2|amd64.txt|100|0|3|3|try 1 of 5|try 2 of 5"
  "mirror never settles: every try, then apt's message, then on with the lists apt has|update -qq|update|always|amd64.txt|100|0|5|5|try 4 of 5|binary-amd64/Packages.xz  File has unexpected size|Some index files failed|still fail after 5 tries"
  "lock held a moment: update tries again|update|update|1|lock.txt|100|0|2|2|Could not get lock"
  "lock never freed: update gives up with apt's message|update|update|always|lock.txt|100|100|5|5|try 4 of 5|Could not get lock|failed 5 times"
  "install fails twice: lists refreshed before each further try|install -y pkg|install|2|locate.txt|100|0|3|2|try 2 of 5"
  "install never works: apt's message at the end|install -y pkg|install|always|locate.txt|100|100|5|4|Unable to locate package libpng16-16:i386|failed 5 times"
  "download fails once|--arch i386 download pkg:i386|download|1|locate.txt|100|0|2|1|try 1 of 5"
  "index of an architecture not needed: update passes at once|update -qq|update|always|i386.txt|100|0|1|1|binary-i386|not needed here"
  "same index when that architecture is needed: tried again|--arch i386 update -qq|update|always|i386.txt|100|0|5|5|try 1 of 5|still fail after 5 tries"
  "needed and unneeded indexes both failed: tried again|update -qq|update|always|both.txt|100|0|5|5|try 1 of 5|still fail after 5 tries"
  "unneeded index passed over by apt itself: no further try|update -qq|update|always|i386-warned.txt|0|0|1|1|W: Failed to fetch|not needed here"
)
for row in "${cases[@]}"; do
  IFS='|' read -r -a field <<<"$row"
  name=${field[0]}
  read -r -a args <<<"${field[1]}"
  rm -f "$scratch/calls"
  status=0
  err=$(PATH="$scratch/bin:$PATH" SCRATCH="$scratch" FAILING=${field[2]} FAILS=${field[3]} \
        MESSAGE="$scratch/${field[4]}" STATUS=${field[5]} AXISWARP_APT_PAUSES="0 0 0 0" \
        bash "$helper" "${args[@]}" 2>&1 >/dev/null) || status=$?
  calls=$(grep -cx "${field[2]}" "$scratch/calls" || true)
  updates=$(grep -cx update "$scratch/calls" || true)
  problems=()
  [ "$status" = "${field[6]}" ] || problems+=("exit status $status, expected ${field[6]}")
  [ "$calls" = "${field[7]}" ] || problems+=("${field[2]} ran $calls times, expected ${field[7]}")
  [ "$updates" = "${field[8]}" ] || problems+=("update ran $updates times, expected ${field[8]}")
  rest=$err
  for fragment in "${field[@]:9}"; do
    if [[ "$rest" == *"$fragment"* ]]; then
      rest=${rest#*"$fragment"}
    else
      problems+=("stderr lacks '$fragment' (in order)")
    fi
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok: $name"
  else
    failures=$((failures + 1))
    echo "FAILED: $name: ${problems[*]}"
    echo "--- stderr:"; echo "$err"; echo "---"
  fi
done
echo "$((${#cases[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
