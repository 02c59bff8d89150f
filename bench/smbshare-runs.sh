#!/bin/bash
# Two "machines" on one SMB share: the multi-process scenarios of the table engine with process
# A on one mount and process B on the other, through the network-folder kit (smbshare: a Samba
# share in a network namespace, mounted twice by a userspace SMB2 client). Needs root and
# /dev/fuse; not part of the test command (a user's machine has no kit).
#
#   bench/smbshare-runs.sh KIT [BUILD] [ROOT] [RUNS] [MODES]
#
# KIT is the kit's folder (up.sh, down.sh), BUILD the build folder (default build), ROOT a
# scratch folder (default /tmp/quillnet-smb), RUNS per scenario and mode (default 5), MODES
# (default "none ac1"). Results are checked on the server's copy (ROOT/export), not through
# the mounts. Prints one line per run and the calls per operation on each mode's mount.
set -euo pipefail
KIT=$(realpath "${1:?usage: smbshare-runs.sh KIT [BUILD] [ROOT] [RUNS] [MODES]}")
BUILD=$(realpath "${2:-build}")
ROOT=${3:-/tmp/quillnet-smb}
RUNS=${4:-5}
MODES=${5:-none ac1}
APPENDS=${APPENDS:-500}  # rows per process
SYSTEMS=${SYSTEMS:-100}  # systems per process
WORKER=$BUILD/tests/store_worker
export QUILLNET_LOCK_TIMEOUT_MS=${QUILLNET_LOCK_TIMEOUT_MS:-20000}

table() { # folder name: the file of that table, any letter case
  find "$1" -maxdepth 1 -iname "$2" | head -1
}

fresh_db() {
  rm -rf "$ROOT/export/db"
  "$BUILD/tools/make_master" "$ROOT/export/db" >/dev/null
}

# check FILE FIELD EXPECTED...: rows, lost (expected but absent), duplicate values, index state
check() {
  local file=$1 field=$2
  shift 2
  local out
  out=$("$WORKER" check "$file" "$field")
  local values
  values=$(printf '%s\n' "$out" | sed -n '/^rows /q;p')
  local dups lost
  dups=$(printf '%s\n' "$values" | sort | uniq -d | wc -l)
  lost=$(comm -23 <(printf '%s\n' "$@" | sort -u) <(printf '%s\n' "$values" | sort -u) | wc -l)
  printf 'rows %s, lost %s, duplicate values %s, repaired %s, %s' \
    "$(printf '%s\n' "$out" | sed -n 's/^rows //p')" "$lost" "$dups" \
    "$(printf '%s\n' "$out" | sed -n 's/^repaired //p')" "$(printf '%s\n' "$out" | grep '^index')"
}

run_pair() { # label, then the two commands' arguments after "--"
  local start
  start=$(date +%s%N)
  "$@"
  local ms=$((($(date +%s%N) - start) / 1000000))
  printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100))
}

appends() { # [rows per group]
  local group=${1:-}
  local a b
  fresh_db
  local ip
  ip=$(basename "$(table "$ROOT/export/db" ip.dbf)")
  local t
  t=$(run_pair bash -c "'$WORKER' append '$ROOT/m1/db/$ip' $APPENDS A $group > '$ROOT/a.out' &
                        '$WORKER' append '$ROOT/m2/db/$ip' $APPENDS B $group > '$ROOT/b.out'; wait")
  a=$(tail -1 "$ROOT/a.out")
  b=$(tail -1 "$ROOT/b.out")
  local expected=()
  for ((i = 1; i <= APPENDS; i++)); do expected+=("A-$i" "B-$i"); done
  echo "appends 2 x $APPENDS${group:+ in groups of $group}: $t, A $a, B $b; $(check "$ROOT/export/db/$ip" SYSID "${expected[@]}")"
}

systems() {
  fresh_db
  local t
  t=$(run_pair bash -c "HOME='$ROOT' '$WORKER' record '$ROOT/m1/db' $SYSTEMS ABC > '$ROOT/a.out' &
                        HOME='$ROOT' '$WORKER' record '$ROOT/m2/db' $SYSTEMS ABC > '$ROOT/b.out'; wait")
  local expected=()
  for ((i = 1; i <= 2 * SYSTEMS; i++)); do expected+=("$(printf 'ABC%04d' "$i")"); done
  local sys
  sys=$(table "$ROOT/export/db" systems.dbf)
  echo "systems 2 x $SYSTEMS: $t, A $(tail -1 "$ROOT/a.out"), B $(tail -1 "$ROOT/b.out");" \
    "$(check "$sys" SYSID "${expected[@]}")"
}

editors() {
  fresh_db
  local ip
  ip=$(basename "$(table "$ROOT/export/db" ip.dbf)")
  "$WORKER" append "$ROOT/m1/db/$ip" 3 E >/dev/null
  coproc FIRST { "$WORKER" edit "$ROOT/m1/db/$ip" 2 first 1500; }
  local line
  read -r line <&"${FIRST[0]}"
  local second
  second=$(QUILLNET_LOCK_TIMEOUT_MS=300 "$WORKER" edit "$ROOT/m2/db/$ip" 2 second 0 | tail -1)
  wait "$FIRST_PID" || true
  local stored
  stored=$("$WORKER" check "$ROOT/export/db/$ip" COMPUTER | sed -n 2p)
  echo "editors: first $line, second: ${second:0:60}; row 2 holds '$stored'"
}

for mode in $MODES; do
  "$KIT/up.sh" "$ROOT" "$mode" > "$ROOT.up.log" 2>&1 || { cat "$ROOT.up.log"; exit 1; }
  grep '^up:' "$ROOT.up.log"
  for ((run = 1; run <= RUNS; run++)); do
    echo "[$mode run $run] $(appends)"
    echo "[$mode run $run] $(appends 50)"
    echo "[$mode run $run] $(systems)"
    echo "[$mode run $run] $(editors)"
  done
  echo "[$mode] calls per operation on the mount:"
  "$BUILD/bench/bench_calls" --rows 2000 "$ROOT/m1" | sed -n '/m1/,$p'
done
"$KIT/down.sh" "$ROOT" >/dev/null
