#!/usr/bin/env bash
# End to end: the global hot key Ctrl+Insert under Xvfb. It must toggle the
# output of a window that does not have the keyboard focus, still do so with
# NumLock on, and a second instance, which cannot take the key, must start
# without a message and leave the key to the first.
#
# Usage: hotkey_test.sh SKARNEL
set -euo pipefail

fail() { echo "hotkey_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
skarnel=$(realpath "$1")
[[ -x $skarnel ]] || fail "not executable: $skarnel"
for tool in xvfb-run Xvfb xdotool dbus-run-session; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run SKARNEL_STORE=$work/settings.db
export SKARNEL_AUDIO=simulated SKARNEL_BIN=$skarnel WORK=$work
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CONFIG_HOME QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$(dirname "$0")/lib/store.sh"
seed_store

# Runs inside Xvfb. xvfb-run is a POSIX shell script, which drops exported bash
# functions: the steps go to a file of their own.
cat >"$work/inner.sh" <<'EOF'
set -euo pipefail
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait || true' EXIT
step="starting the first instance"
fail() { echo "$step: $*" >&2; exit 1; }

# The visible windows named Skarnel, stopped or playing.
skarnel_windows() { xdotool search --onlyvisible --name '^(ON - )?Skarnel$' || true; }
visible_count() { xdotool search --onlyvisible --name '' | wc -l; }
title_becomes() {  # WINDOW TITLE: waits up to 5 s
    local i
    for ((i = 0; i < 50; i++)); do
        [[ $(xdotool getwindowname "$1") == "$2" ]] && return 0
        sleep 0.1
    done
    fail "window title stayed '$(xdotool getwindowname "$1")', expected '$2'"
}
# Presses the hot key and waits for the WINDOW to show TITLE.
hot_key_turns() {  # WINDOW TITLE
    xdotool key ctrl+Insert
    title_becomes "$@"
}
# The second window must stay stopped; a late toggle would show within 0.5 s.
second_untouched() {
    sleep 0.5
    [[ $(xdotool getwindowname "$second") == Skarnel ]] || fail "the hot key reached the second instance"
}

"$SKARNEL_BIN" >"$WORK/first.log" 2>&1 &
pids+=($!)
first=$(timeout 20 xdotool search --sync --onlyvisible --name '^Skarnel$') ||
    fail "no Skarnel window appeared within 20 s"
first=${first%%$'\n'*}
# Without a window manager the keyboard focus follows the pointer: keep it on
# the root window, so that keys reach the program only through its grab.
xdotool mousemove 1023 767
eval "$(xdotool getmouselocation --shell)"
[[ $WINDOW != "$first" ]] || fail "the window covers the whole screen; no place to park the pointer"

step="pressing the hot key, first window unfocused"
xdotool keydown ctrl+Insert
title_becomes "$first" "ON - Skarnel"
step="releasing Insert before Control"
xdotool keyup Insert
sleep 0.5
xdotool keyup ctrl
[[ $(xdotool getwindowname "$first") == "ON - Skarnel" ]] || fail "the release toggled again"
step="the hot key, first window unfocused"
hot_key_turns "$first" "Skarnel"

step="the hot key with NumLock on"
xdotool key Num_Lock
hot_key_turns "$first" "ON - Skarnel"
hot_key_turns "$first" "Skarnel"

# A second instance: the key is taken, which it must accept silently.
step="starting a second instance"
before=$(visible_count)
"$SKARNEL_BIN" >"$WORK/second.log" 2>&1 &
pids+=($!)
second=
for ((i = 0; i < 200; i++)); do
    second=$(skarnel_windows | grep -vx "$first" || true)
    [[ -z $second ]] || break
    sleep 0.1
done
[[ -n $second ]] || fail "the second instance showed no Skarnel window within 20 s"
[[ $second != *$'\n'* ]] || fail "the second instance showed more than one Skarnel window"
sleep 1  # time for a message box to appear
after=$(visible_count)
((after == before + 1)) ||
    fail "the second instance opened $((after - before)) visible windows, not only its own"
eval "$(xdotool getmouselocation --shell)"
[[ $WINDOW != "$second" ]] || fail "the second window lies under the pointer"

step="the hot key with two instances"
hot_key_turns "$first" "ON - Skarnel"
second_untouched
hot_key_turns "$first" "Skarnel"
second_untouched
echo "all steps passed"
EOF

# A private session bus: without one Qt would autolaunch a bus of its own.
if ! dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh"; then
    fail "see above; the program's output:
first:  $(cat "$work/first.log" 2>/dev/null)
second: $(cat "$work/second.log" 2>/dev/null)"
fi
echo "hotkey_test: PASS"
