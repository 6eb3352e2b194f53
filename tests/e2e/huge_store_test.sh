#!/usr/bin/env bash
# End to end: a settings store swollen past 16 MB by another program's values
# (a million such values once made the window take over 30 s to show and
# minutes to close) starts the window within 3 s, on its defaults, and closes
# within 3 s; the close sets the swollen store aside and writes a fresh one
# with the window's values. The store is built in the test: 1 KB values take
# a page each, so about 18 MB holds enough of them.
#
# Usage: huge_store_test.sh SKARNEL
set -euo pipefail

fail() { echo "huge_store_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
source "$(dirname "$0")/lib/private_session.sh"
window_session "$(realpath "$1")"

cat >"$work/inner.sh" <<'INNER'
set -euo pipefail
source "$STORE_LIB"
source "$WINDOW_BUS_LIB"
fail() { echo "huge_store_test: FAIL: $*" >&2; exit 1; }
seed_store "Duration|0|7.5"
db=$(store_path)
sqlite3 "$db" "INSERT INTO keys VALUES('\Software\SomeoneElse');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4200)
INSERT INTO key_values SELECT '\Software\SomeoneElse', 'Other' || i, 0,
    replace(hex(zeroblob(512)), '0', 'x'), NULL FROM n;"
size=$(stat -c %s "$db")
((size > 16 * 1024 * 1024)) || fail "the store holds only $size bytes"
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

started=$(date +%s%N)
"$SKARNEL_BIN" /nosplash >"$WORK/skarnel.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# The store is not read, so the welcome question comes first, as at a first
# start: the first window the user sees.
timeout 10 xdotool search --sync --all --pid "$pid" --onlyvisible --name . >/dev/null ||
    fail "no window showed within 10 s"
took=$(ms_since "$started")
((took <= 3000)) || fail "the first window showed after $took ms"
echo "the first window showed after $took ms beside a store of $((size >> 20)) MB"
for ((i = 0; i < 50; i++)); do
    window_pids | grep -qx "$pid" && break
    xdotool key Return  # the welcome question: No
    sleep 0.2
done
window_wait_ready "$pid" 10 || fail "the generator window did not show"

win=$(xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' | head -n 1)
closed=$(date +%s%N)
xdotool windowfocus --sync "$win" key ctrl+x
for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+X did not close the window within 5 s"
took=$(ms_since "$closed")
((took <= 3000)) || fail "the window closed after $took ms"
echo "the window closed after $took ms"

[[ -f $db.corrupt && $(stat -c %s "$db.corrupt") -eq $size ]] || fail "the swollen store was not set aside"
fresh=$(stat -c %s "$db")
((fresh < 1024 * 1024)) || fail "the fresh store holds $fresh bytes"
[[ $(sqlite3 "$db" "SELECT text_value FROM key_values WHERE name = 'Duration'") == 10 ]] ||
    fail "the fresh store does not hold the window's values"
echo "the close set the store aside and wrote a fresh one of $fresh bytes"
INNER

xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the program said: $(tail -n 5 "$work/skarnel.log" 2>/dev/null)"
echo "huge_store_test: PASS"
