#!/usr/bin/env bash
# End to end: three instances on one session bus under Xvfb. The
# "Sync all Generators" box must follow in every window, ON/OFF/Pause keys of a
# synced window must act on all windows, also beside two names on the bus
# that never answer (within a second; it was 25 s per such name), boxes
# toggled in all windows at once must settle on one value without a deadlock,
# and Ctrl+N must start a fourth.
#
# Usage: sync_windows_test.sh SKARNEL SQUATTER
set -euo pipefail

fail() { echo "sync_windows_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL SQUATTER"
skarnel=$(realpath "$1")
[[ -x $skarnel ]] || fail "not executable: $skarnel"
[[ -x $2 ]] || fail "not executable: $2"
for tool in dbus-run-session xvfb-run Xvfb xdotool gdbus timeout; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages dbus, xvfb, xdotool, libglib2.0-bin"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run SKARNEL_STORE=$work/settings.db
export SKARNEL_AUDIO=simulated SKARNEL_BIN=$skarnel WORK=$work SQUATTER=$(realpath "$2")
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CONFIG_HOME QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$(dirname "$0")/lib/store.sh"
seed_store

# Runs inside Xvfb on a private bus. xvfb-run is a POSIX shell script, which
# drops exported bash functions: the steps go to a file of their own.
cat >"$work/inner.sh" <<'EOF'
set -euo pipefail
prefix=org.orvane.Skarnel.Generator.pid
bus_pids() {
    timeout 10 gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.ListNames | grep -o "${prefix//./\\.}[0-9]*" | sed "s/.*pid//" | sort -n
}
cleanup() {
    local p
    for p in $(bus_pids 2>/dev/null) ${pids[@]+"${pids[@]}"}; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
pids=()
trap cleanup EXIT
fail() { echo "$*" >&2; for p in ${pids[@]+"${pids[@]}"}; do echo "  $p: $(state "$p" 2>&1)" >&2; done; exit 1; }

state() { timeout 15 gdbus call --session --timeout 10 --dest "$prefix$1" --object-path /Generator \
    --method org.orvane.Skarnel.Generator.State | tr -d '(),'; }
cmd() { timeout 25 gdbus call --session --timeout 20 --dest "$prefix$1" --object-path /Generator \
    --method org.orvane.Skarnel.Generator.Command $(($2)) $(($3)) $(($4)) >/dev/null; }
field() { local s; s=($(state "$1")) || return 1; echo "${s[$2]}"; }   # PID 0=running 1=paused 2=sync
names=(running paused sync)
# FIELD VALUE PID...: waits up to 5 s until every PID reports VALUE.
expect() {
    local f=$1 v=$2 i p ok; shift 2
    for ((i = 0; i < 50; i++)); do
        ok=1
        for p; do [[ $(field "$p" "$f") == "$v" ]] || ok=0; done
        ((ok)) && return 0
        sleep 0.1
    done
    fail "expected $v as ${names[f]} of $*"
}
press() {  # PID KEY: the key in that instance's window
    xdotool windowfocus --sync "${win[$1]}"
    xdotool key "$2"
}

for n in 1 2 3; do
    "$SKARNEL_BIN" >"$WORK/skarnel$n.log" 2>&1 &
    pids+=($!)
done
for ((i = 0; i < 200; i++)); do
    [[ $(bus_pids | wc -l) -ge 3 ]] && break
    sleep 0.1
done
[[ $(bus_pids | tr '\n' ' ') == "$(printf '%s\n' "${pids[@]}" | sort -n | tr '\n' ' ')" ]] ||
    fail "the bus holds generators '$(bus_pids | tr '\n' ' ')', expected ${pids[*]}"
p1=${pids[0]} p2=${pids[1]} p3=${pids[2]}
declare -A win
for p in "${pids[@]}"; do
    win[$p]=$(timeout 20 xdotool search --sync --all --pid "$p" --onlyvisible --name '^Skarnel$' | head -n 1) ||
        fail "no Skarnel window of $p within 20 s"
done
expect 0 false "${pids[@]}"
expect 2 false "${pids[@]}"

# Without sync a key acts on its own window only.
press "$p2" F11
expect 0 true "$p2"
sleep 0.5
expect 0 false "$p1" "$p3"
press "$p2" F9
expect 0 false "$p2"

# A box changed in one window changes it in all.
for step in "$p1 1 true" "$p2 0 false" "$p3 1 true"; do
    read -r p v want <<<"$step"
    cmd "$p" 0x403 "$v" 0 || fail "sync command $v to $p failed"
    expect 2 "$want" "${pids[@]}"
done

# A stamp forged by another program on the bus (the largest there is) must
# not silence later changes: unticking in another window still reaches every
# window, and ON then starts only its own.
timeout 10 gdbus call --session --dest "$prefix$p1" --object-path /Generator \
    --method org.orvane.Skarnel.Generator.PeerCommand 0x403 1 0 18446744073709551615 >/dev/null ||
    fail "the forged call was not answered"
cmd "$p2" 0x403 0 0 || fail "unticking after the forged stamp failed"
expect 2 false "${pids[@]}"
press "$p1" F11
expect 0 true "$p1"
sleep 0.5
expect 0 false "$p2" "$p3"
press "$p1" F9
expect 0 false "$p1"
cmd "$p3" 0x403 1 0 || fail "ticking after the forged stamp failed"
expect 2 true "${pids[@]}"

# Synced: ON in one window starts all.
press "$p1" F11
expect 0 true "${pids[@]}"
expect 1 false "${pids[@]}"
# Pause in one window inverts every window's own pause.
cmd "$p2" 0x402 0 0
expect 1 true "$p2"
expect 1 false "$p1" "$p3"
press "$p1" F10
expect 1 false "$p2"
expect 1 true "$p1" "$p3"
expect 0 true "${pids[@]}"
# OFF in another window stops all, paused or not.
press "$p3" F9
expect 0 false "${pids[@]}"

# Two names that never answer (a hung or hostile peer; process numbers no
# process can have, so that the clean-up kills nothing else).
"$SQUATTER" "${prefix}999999991" "${prefix}999999992" >"$WORK/squatter.out" &
squatter=$!
for ((i = 0; i < 100; i++)); do
    grep -q ready "$WORK/squatter.out" && break
    sleep 0.1
done
grep -q ready "$WORK/squatter.out" || fail "the squatter did not start"
# SECONDS FIELD VALUE PID...: like expect, within SECONDS of $since.
expect_within() {
    local limit=$1; shift
    expect "$@"
    local took=$(((${EPOCHREALTIME/./} - since) / 1000))
    echo "  ${names[$1]} $2 in ${*:3} after $took ms"
    ((took < limit * 1000)) || fail "${names[$1]} $2 took $took ms, more than $limit s"
}
since=${EPOCHREALTIME/./}
cmd "$p1" 0x403 0 0 || fail "unticking sync beside the squatter failed"
expect_within 1 2 false "${pids[@]}"
since=${EPOCHREALTIME/./}
cmd "$p2" 0x403 1 0 || fail "ticking sync beside the squatter failed"
expect_within 1 2 true "${pids[@]}"
press "$p1" F11
expect 0 true "${pids[@]}"
since=${EPOCHREALTIME/./}
press "$p2" F9
expect_within 1 0 false "$p2"
expect_within 1 0 false "${pids[@]}"
kill -0 "$squatter" 2>/dev/null || fail "the squatter ended before the steps beside it did"
kill "$squatter"
wait "$squatter" 2>/dev/null || true

# Every window toggles its box at the same moment, with values that disagree
# (the bits of 1..6), many times over since the timing decides: all calls must
# return, every window must still answer, and all boxes must agree.
for ((r = 0; r < 36; r++)); do
    k=$((r % 6 + 1)) c=()
    for i in 0 1 2; do
        cmd "${pids[i]}" 0x403 $((k >> i & 1)) 0 &
        c+=($!)
    done
    for i in 0 1 2; do
        wait "${c[i]}" || fail "round $r: the sync command to ${pids[i]} failed, hung or crashed it"
    done
    agreed=$(field "$p1" 2) || fail "round $r: $p1 does not answer after the sync commands"
    expect 2 "$agreed" "${pids[@]}"
done

# Ctrl+N opens a new generator window: a fourth name on the bus.
press "$p2" ctrl+n
for ((i = 0; i < 100; i++)); do
    [[ $(bus_pids | wc -l) -ge 4 ]] && break
    sleep 0.1
done
[[ $(bus_pids | wc -l) -eq 4 ]] || fail "Ctrl+N: $(bus_pids | wc -l) generators on the bus, expected 4"
echo "all steps passed"
EOF

# A private session bus: without one Qt would autolaunch a bus of its own.
if ! dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/inner.sh"; then
    fail "see above; the program's output:
$(tail -n 20 "$work"/skarnel*.log 2>/dev/null)"
fi
echo "sync_windows_test: PASS"
