#!/usr/bin/env bash
# End to end, under a window manager (openbox on Xvfb): the small windows of a
# running task stay where the user can reach them.
#  - A script's window ("WBQ Script") stays above the disabled generator
#    window and gets the focus back after every message box of the run (a
#    pause answered with OK, a file that is not found), so Cancel and Next
#    can be found during a long delay.
#  - An export started with the mouse (File menu, its entry clicked) shows
#    its progress window with the keyboard focus: Esc cancels it.
#  - Neither window asks for minimise or maximise buttons, and neither can
#    be maximised.
# The stacking order and the active window are read from the X server.
#
# Usage: windows_in_front_test.sh SKARNEL
# FAIL_SHOT=FILE keeps a screenshot of the display at a failure; TRACE=1
# traces the steps.
set -euo pipefail

fail() { echo "windows_in_front_test: FAIL: $*" >&2; exit 1; }
skip() { echo "windows_in_front_test: SKIP: $*" >&2; exit 77; }

[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
skarnel=$(realpath "$1")
[[ -x $skarnel ]] || fail "not executable: $skarnel"
here=$(dirname "$(realpath "$0")")
for tool in xvfb-run xdotool xprop dbus-run-session sqlite3 openbox; do
    command -v "$tool" >/dev/null ||
        skip "'$tool' is missing (packages xvfb, xdotool, x11-utils, dbus, sqlite3, openbox)"
done

source "$here/lib/private_session.sh"
private_session "$skarnel"

cat >"$work/inner.sh" <<'EOF'
set -euo pipefail
source "$STORE_LIB"
step="starting the window manager"
fail() {
    echo "$step: $*" >&2
    [[ -z ${FAIL_SHOT:-} ]] || import -window root "$FAIL_SHOT" 2>/dev/null || true
    exit 1
}
pid=
trap '[[ -n $pid ]] && kill $pid 2>/dev/null; kill $wm 2>/dev/null || true' EXIT
for ((i = 0; i < 50; i++)); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "no X display came up" >&2; exit 75; }
openbox >"$WORK/openbox.log" 2>&1 &
wm=$!
for ((i = 0; i < 50; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "openbox did not come up: $(cat "$WORK/openbox.log")" >&2; exit 75; }

# A long period (the export must still run when Esc comes), and the CD-format
# hint answered once for good.
seed_store $(window_values Duration=150000) "CDformat|1|1"

start() {
    "$SKARNEL_BIN" /nosplash >>"$WORK/skarnel.log" 2>&1 &
    pid=$!
    generator=$(window_named '^Skarnel$')
    [[ -n $generator ]] || fail "no window titled 'Skarnel' within 10 s"
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}
# Waits for a visible window of the program whose whole title is $1 and
# that is none of the windows named after it.
window_named() {
    local name=$1 win i
    shift
    for ((i = 0; i < 40; i++)); do
        kill -0 "$pid" 2>/dev/null || fail "the program ended"
        for win in $(xdotool search --all --pid "$pid" --onlyvisible --name "$name" 2>/dev/null); do
            [[ " $* " == *" $win "* ]] || { echo "$win"; return; }
        done
        sleep 0.25
    done
}
gone() {  # WINDOW: waits up to 5 s until it is no longer shown
    local i
    for ((i = 0; i < 50; i++)); do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.1
    done
    return 1
}
# The window's place in the stacking order, bottom first (as openbox keeps
# it in _NET_CLIENT_LIST_STACKING); -1 when it is not listed.
stack_place() {
    local ids n=0 id
    ids=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/^.*# //; s/,//g')
    for id in $ids; do
        (($(printf '%d' "$id") == $1)) && { echo $n; return; }
        n=$((n + 1))
    done
    echo -1
}
# in_front WINDOW BELOW: WINDOW is stacked above BELOW and has the focus.
in_front() {
    local i top below active
    for ((i = 0; i < 20; i++)); do
        top=$(stack_place "$1") below=$(stack_place "$2") active=$(xdotool getactivewindow 2>/dev/null || true)
        ((top > below)) && [[ $active == "$1" ]] && return 0
        sleep 0.1
    done
    fail "window $1 is at $top in the stacking order, the generator at $below, the active window is '$active'"
}
# no_min_max WINDOW: the window asks for neither button (its Motif hints
# list the functions it allows: MINIMIZE is 8, MAXIMIZE 16), and the window
# manager offers no maximise. (Openbox ignores the hint for minimise.)
no_min_max() {
    local hints flags functions actions
    hints=$(xprop -id "$1" _MOTIF_WM_HINTS | sed 's/^.*= //; s/,//g')
    read -r flags functions _ <<<"$hints"
    ((flags & 1)) || fail "window $1 lists no functions: $hints"
    ((!(functions & 1) && !(functions & 24))) || fail "window $1 allows minimise or maximise: $hints"
    actions=$(xprop -id "$1" _NET_WM_ALLOWED_ACTIONS)
    [[ $actions != *MAXIMIZE* ]] || fail "window $1 can be maximised: $actions"
}
# answer_box KNOWN...: waits for a message box (titled like the program, not
# a window known yet) and presses Return in it.
answer_box() {
    local box
    box=$(window_named '^Skarnel$' "$@")
    [[ -n $box ]] || fail "no message box showed"
    xdotool key Return
    gone "$box" || fail "Return did not close the box"
}

step="a script with boxes"
start
script=$WORK/check.wbs
printf 'pause Check the amplifier\ndelay 1.5\nplay 1 %s\ndelay 3600\nend\n' "$WORK/missing.vlm" >"$script"
xdotool windowactivate --sync "$generator"
xdotool key ctrl+r
opener=$(window_named '^Open script file$')
[[ -n $opener ]] || fail "Ctrl+R showed no file dialog"
xdotool type --delay 5 "$script"
xdotool key Return
scriptWindow=$(window_named '^WBQ Script$')
[[ -n $scriptWindow ]] || fail "the script window did not show"
no_min_max "$scriptWindow"
step="the script window after OK on the pause"
answer_box "$generator"
in_front "$scriptWindow" "$generator"
step="the script window after the note of a missing file"
answer_box "$generator"
in_front "$scriptWindow" "$generator"
step="the script window during the long delay"
sleep 1
in_front "$scriptWindow" "$generator"
stop

step="an export started with the mouse"
start
xdotool windowactivate --sync "$generator"
xdotool mousemove --window "$generator" --sync 18 8 click 1  # the File menu
# Its entries: Open New Generator Window, a line, Save Tone As Wave File...
# (a pop-up: a window of the root's own, not managed, that xdotool's
# search leaves out)
menu=
for ((i = 0; i < 20; i++)); do
    [[ -z $menu ]] || break
    sleep 0.1
    for w in $(xwininfo -root -children | awk '/"Skarnel": \("skarnel"/ { print $1 }'); do
        xwininfo -id "$w" | grep -q IsViewable && menu=$w
    done
done
[[ -n $menu ]] || fail "the File menu did not open"
xdotool mousemove --window "$menu" --sync 94 34 click 1
saver=$(window_named '^Save wave file$')
[[ -n $saver ]] || fail "the entry showed no file dialog"
target=$WORK/long.wav
xdotool type --delay 5 "$target"
xdotool key Return
progress=$(window_named '^Velmor$')
[[ -n $progress ]] || fail "no progress window"
no_min_max "$progress"
in_front "$progress" "$generator"
xdotool key Escape
gone "$progress" || fail "Esc did not cancel the export"
[[ ! -e $target ]] || fail "the cancelled export left $target"
stop
echo "all steps passed"
EOF

for attempt in 1 2; do
    status=0
    xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1366x768x24" \
        dbus-run-session -- bash ${TRACE:+-x} "$work/inner.sh" || status=$?
    ((status == 75)) || break
    echo "windows_in_front_test: the display or openbox did not come up (attempt $attempt)"
    sleep 1
done
((status == 0)) || fail "see above; the program said: $(tail -n 5 "$work/skarnel.log" 2>/dev/null)"
echo "windows_in_front_test: PASS"
