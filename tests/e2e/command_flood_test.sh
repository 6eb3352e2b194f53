#!/usr/bin/env bash
# End to end: a flood of D-Bus commands that each end in a note (a start that
# fails: a period of 0.1 s without Loop is shorter than the first buffer).
# The notes used to open inside the call handler, one inside the other, until
# the stack overflowed; a caller waited for a person to click OK. Now every
# call is answered at once, the program lives on, and one box shows.
#
# Usage: command_flood_test.sh SKARNEL
set -euo pipefail

fail() { echo "command_flood_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
skarnel=$(realpath "$1")
for tool in xvfb-run Xvfb xdotool dbus-run-session dbus-send gdbus sqlite3 timeout; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3"
done

source "$(dirname "$0")/lib/private_session.sh"
private_session "$skarnel"

cat >"$work/inner.sh" <<'EOF'
set -euo pipefail
source "$STORE_LIB"
fail() { echo "command_flood_test: FAIL: $*" >&2; exit 1; }
seed_store
"$SKARNEL_BIN" /nosplash >"$WORK/skarnel.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
name=org.orvane.Skarnel.Generator.pid$pid
timeout 20 xdotool search --sync --all --pid "$pid" --onlyvisible --name '^Skarnel$' >/dev/null ||
    fail "no window within 20 s"
call() {  # NUMBER FIRST SECOND, answered within 5 s
    timeout 10 gdbus call --session --timeout 5 --dest "$name" --object-path /Generator \
        --method org.orvane.Skarnel.Generator.Command -- "$@" >/dev/null
}
call 0x40B 0 0 || fail "Loop off was not answered"
call 0x40A 1 0 || fail "the period was not answered"   # 0.1 s
start=$(date +%s%N)
for ((i = 0; i < 2000; i++)); do
    # Most without waiting, as a flood does; every 100th waits for its answer.
    if ((i % 100 == 0)); then
        timeout 10 dbus-send --session --print-reply --reply-timeout=3000 --dest="$name" \
            /Generator org.orvane.Skarnel.Generator.Command uint32:1024 int32:0 int32:0 \
            >/dev/null || fail "call $i was not answered within 3 s"
    else
        dbus-send --session --dest="$name" /Generator org.orvane.Skarnel.Generator.Command \
            uint32:1024 int32:0 int32:0
    fi
done
echo "2000 calls in $((($(date +%s%N) - start) / 1000000)) ms"
kill -0 "$pid" 2>/dev/null || fail "the program ended under the flood"
timeout 10 gdbus call --session --timeout 5 --dest "$name" --object-path /Generator \
    --method org.orvane.Skarnel.Generator.State >/dev/null || fail "State was not answered"
sleep 1
# The generator window and one note; the flood's other notes were the same.
shown=$(xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' | wc -l)
((shown == 2)) || fail "$shown windows titled Skarnel show, expected the generator and one note"
echo "command_flood_test: PASS"
EOF
xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the program said: $(tail -n 5 "$work/skarnel.log" 2>/dev/null)"
