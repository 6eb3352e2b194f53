#!/usr/bin/env bash
# End to end: File > Exit with the help window open ends the program. The
# help window must not keep a hidden generator alive on the bus.
#
# Usage: exit_with_help_test.sh SKARNEL
set -euo pipefail

fail() { echo "exit_with_help_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
skarnel=$(realpath "$1")
for tool in xvfb-run Xvfb xdotool dbus-run-session sqlite3; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, sqlite3"
done

source "$(dirname "$0")/lib/private_session.sh"
private_session "$skarnel"

cat >"$work/inner.sh" <<'EOF'
set -euo pipefail
source "$STORE_LIB"
fail() { echo "exit_with_help_test: FAIL: $*" >&2; exit 1; }
seed_store
"$SKARNEL_BIN" >"$WORK/skarnel.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
win=$(timeout 20 xdotool search --sync --all --pid "$pid" --onlyvisible --name '^Skarnel$' |
    head -n 1) || fail "no window within 20 s"
sleep 0.5
xdotool windowfocus --sync "$win"
xdotool key F1
timeout 10 xdotool search --sync --all --pid "$pid" --onlyvisible --name '^Skarnel Help$' >/dev/null ||
    fail "F1 opened no help window"
xdotool windowfocus --sync "$win"
xdotool key alt+f
sleep 0.5
xdotool key e
for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program still runs 5 s after File > Exit with the help open"
wait "$pid" || true
echo "exit_with_help_test: PASS"
EOF
xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the program said: $(tail -n 5 "$work/skarnel.log" 2>/dev/null)"
