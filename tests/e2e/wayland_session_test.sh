#!/usr/bin/env bash
# End to end: the program as a native Wayland client, under weston's headless
# compositor (rendering in memory, so a screenshot can be taken). It starts on
# Wayland's platform plugin, plays on the simulated device, opens the help
# and Output Settings from its menus, and keeps the hot key: a stand-in for
# the desktop portal's global shortcuts receives Ctrl+Insert as the binding
# and its activation toggles the window, as `skarnel --toggle` does. Started
# again without the portal, the Tools menu says that no global hot key is
# available. Menus are driven over AT-SPI, as no X11 tool reaches a Wayland
# window. The screenshot is left as wayland_session.png in the working folder.
#
# Usage: wayland_session_test.sh SKARNEL FAKE-SHORTCUTS-PORTAL
set -euo pipefail

fail() { echo "wayland_session_test: FAIL: $*" >&2; exit 1; }
skip() { echo "wayland_session_test: SKIP: $*" >&2; exit 77; }
[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL FAKE-SHORTCUTS-PORTAL"
skarnel=$(realpath "$1")
export FAKE_PORTAL=$(realpath "$2")
for tool in weston weston-screenshooter dbus-run-session gdbus sqlite3 identify; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages weston, dbus, libglib2.0-bin, sqlite3, imagemagick"
done
python=/usr/bin/python3
[[ -x $python ]] || python=python3
launcher=/usr/libexec/at-spi-bus-launcher
"$python" -c 'import pyatspi' 2>/dev/null && [[ -x $launcher ]] ||
    fail "AT-SPI is missing; this test needs the packages python3-pyatspi and at-spi2-core"
export PYTHON=$python LAUNCHER=$launcher SHOT=$PWD/wayland_session.png
export MENUS=$(realpath "$(dirname "$0")/lib/menus.py")
export WINDOW_BUS_LIB=$(realpath "$(dirname "$0")/lib/window_bus.sh")

source "$(dirname "$0")/lib/private_session.sh"
private_session "$skarnel"
unset DISPLAY
export WAYLAND_DISPLAY=skarnel-test
weston --backend=headless-backend.so --use-pixman --socket="$WAYLAND_DISPLAY" \
    --width=1280 --height=900 --idle-time=0 --debug >"$work/weston.log" 2>&1 &
weston_pid=$!
trap 'kill $weston_pid 2>/dev/null || true; rm -rf "$work"' EXIT
for ((i = 0; i < 100; i++)); do
    [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] && break
    kill -0 $weston_pid 2>/dev/null || skip "weston's headless compositor did not start here: $(tail -n 3 "$work/weston.log")"
    sleep 0.1
done
[[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] || skip "weston's headless compositor opened no socket within 10 s"

cat >"$work/inner.sh" <<'INNER'
set -euo pipefail
source "$STORE_LIB"
source "$WINDOW_BUS_LIB"
fail() { echo "wayland_session_test: FAIL: $*" >&2; exit 1; }
pids=()
trap 'kill ${pids[@]+"${pids[@]}"} 2>/dev/null || true' EXIT
"$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
pids+=($!)
unavailable="Global Hot Key Not Available in This Session…"

start_window() {
    QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        "$SKARNEL_BIN" /nosplash >"$WORK/skarnel$1.log" 2>&1 &
    pid=$!
    pids+=($pid)
    # On the bus once it is ready; shown as the accessibility bus sees it.
    window_wait_on_bus "$pid" 30 || fail "the window did not start on Wayland"
    "$PYTHON" "$MENUS" wait-window Skarnel || fail "the window was not shown"
    grep -q 'libqwayland' "/proc/$pid/maps" || fail "the window does not use Wayland's platform plugin"
    ! grep -q 'libqxcb' "/proc/$pid/maps" || fail "the window uses X11's platform plugin"
}

# The portal's stand-in.
"$FAKE_PORTAL" >"$WORK/portal.out" &
portal_pid=$!
pids+=($portal_pid)
for ((i = 0; i < 50; i++)); do grep -q ready "$WORK/portal.out" && break; sleep 0.1; done
seed_store
start_window 1
echo "the window runs natively on Wayland"

for ((i = 0; i < 30; i++)); do grep -q bound "$WORK/portal.out" && break; sleep 0.1; done
grep -qx "bound toggle CTRL+Insert" "$WORK/portal.out" ||
    fail "the portal was not asked for Ctrl+Insert; it saw: $(cat "$WORK/portal.out")"
"$PYTHON" "$MENUS" entries Tools >"$WORK/tools1.txt"
grep -q "Output Settings" "$WORK/tools1.txt" || fail "the Tools menu is not read: $(cat "$WORK/tools1.txt")"
! grep -qF "$unavailable" "$WORK/tools1.txt" || fail "the Tools menu says no hot key while the portal gave one"
echo "the portal bound Ctrl+Insert"

window_command "$pid" "$WINDOW_START"
window_wait_running "$pid" true 30 || fail "ON did not play on the simulated device"
window_command "$pid" "$WINDOW_STOP"
window_wait_running "$pid" false 30 || fail "OFF did not stop"

press() {
    timeout 10 gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop \
        --method org.orvane.SkarnelTest.ShortcutsPortal.Press toggle
}
[[ $(press) == "(1,)" ]] || fail "the portal had no session to send the shortcut to"
window_wait_running "$pid" true 30 || fail "the portal's shortcut did not start the window"
press >/dev/null
window_wait_running "$pid" false 30 || fail "the portal's shortcut did not stop the window"
echo "the portal's shortcut toggles the window"

"$SKARNEL_BIN" --toggle || fail "--toggle failed"
window_wait_running "$pid" true 30 || fail "--toggle did not start the window"

"$PYTHON" "$MENUS" press Help Help
"$PYTHON" "$MENUS" wait-window "Skarnel Help" || fail "Help > Help showed no help window"
"$PYTHON" "$MENUS" press Tools "Output Settings"
"$PYTHON" "$MENUS" wait-window "Output Settings" || fail "Tools > Output Settings showed no dialog"
echo "the help and Output Settings open"
sleep 1
(cd "$WORK" && timeout 20 weston-screenshooter >/dev/null 2>&1) || fail "weston took no screenshot"
shot=$(ls "$WORK"/wayland-screenshot-*.png | head -n 1)
cp "$shot" "$SHOT"
# A blank screen has one colour; the windows bring many.
colours=$(identify -format '%k' "$SHOT")
((colours > 50)) || fail "the screenshot shows $colours colours, the windows are not drawn"
echo "screenshot: $SHOT ($colours colours)"
kill "$pid" "$portal_pid"
wait "$pid" 2>/dev/null || true

# Without the portal: the hot key is not available, and the menu says so.
start_window 2
"$PYTHON" "$MENUS" entries Tools >"$WORK/tools2.txt"
for ((i = 0; i < 20; i++)); do
    grep -qF "$unavailable" "$WORK/tools2.txt" && break
    sleep 0.2
    "$PYTHON" "$MENUS" entries Tools >"$WORK/tools2.txt"
done
grep -qF "$unavailable" "$WORK/tools2.txt" ||
    fail "without the portal the Tools menu does not say the hot key is unavailable: $(cat "$WORK/tools2.txt")"
"$SKARNEL_BIN" --toggle || fail "--toggle failed without the portal"
window_wait_running "$pid" true 30 || fail "--toggle did not start the window without the portal"
echo "without the portal the Tools menu says so, and --toggle still works"
INNER

dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the program said: $(tail -n 5 "$work"/skarnel*.log 2>/dev/null)"
echo "wayland_session_test: PASS"
