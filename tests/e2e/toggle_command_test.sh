#!/usr/bin/env bash
# End to end: `skarnel --toggle`, the command a desktop's key binding runs
# where programs cannot grab keys of their own (Wayland). With two windows
# running, it toggles the one the user was in last: ON, then OFF; the other
# stays as it was. With no window it says so and fails.
#
# Usage: toggle_command_test.sh SKARNEL
set -euo pipefail

fail() { echo "toggle_command_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
source "$(dirname "$0")/lib/private_session.sh"
window_session "$(realpath "$1")"

cat >"$work/inner.sh" <<'INNER'
set -euo pipefail
source "$STORE_LIB"
source "$WINDOW_BUS_LIB"
fail() { echo "toggle_command_test: FAIL: $*" >&2; exit 1; }
pids=()
trap 'kill ${pids[@]+"${pids[@]}"} 2>/dev/null || true' EXIT
seed_store
if "$SKARNEL_BIN" --toggle 2>"$WORK/none.err"; then
    fail "--toggle with no window running succeeded"
fi
grep -q "no generator window is running" "$WORK/none.err" || fail "--toggle said: $(cat "$WORK/none.err")"
for n in 1 2; do
    "$SKARNEL_BIN" /nosplash >"$WORK/skarnel$n.log" 2>&1 &
    pids+=($!)
    window_wait_ready "${pids[-1]}" || fail "window $n did not start"
done
# The user clicks into the first window, then into the second.
for p in "${pids[@]}"; do
    win=$(xdotool search --all --pid "$p" --onlyvisible --name '^Skarnel$' | head -n 1)
    xdotool windowfocus --sync "$win"
    sleep 0.3
done
"$SKARNEL_BIN" --toggle || fail "--toggle failed"
window_wait_running "${pids[1]}" true 50 || fail "the window used last did not start"
[[ $(window_running "${pids[0]}") == false ]] || fail "the other window started too"
"$SKARNEL_BIN" --toggle || fail "the second --toggle failed"
window_wait_running "${pids[1]}" false 50 || fail "the second --toggle did not stop it"
echo "toggled the window used last: ON, then OFF"
INNER

xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the programs said: $(tail -n 5 "$work"/skarnel*.log 2>/dev/null)"
echo "toggle_command_test: PASS"
