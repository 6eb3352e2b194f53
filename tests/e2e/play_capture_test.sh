#!/usr/bin/env bash
# End to end: the real program, driven by keyboard under Xvfb, plays its start
# signal (mono pink noise 6:1, 0 dBFS, 10 s, 11025 Hz, 16-bit) on ALSA's default
# device routed to a file. The captured bytes must be the start of the same
# signal rendered by skarnel-render.
#
# Usage: play_capture_test.sh SKARNEL SKARNEL_RENDER [paced|unpaced|period|level]
#   paced    the device takes samples at their real rate, as a sound card does
#   level    paced, and while it plays other programs ask over D-Bus for
#            +40 dBFS and a depth of 1,000,000 %: the entries' checks make
#            that 0 dBFS (the level playing) and 100 %, so not one sample
#            may change
#   unpaced  the device takes them as fast as they come: the window must still
#            answer F9 while it refills buffers back to back
#   period   unpaced, with Loop off: the whole 10 s period must arrive, to its
#            last frame, and playback then ends by itself
set -euo pipefail

fail() { echo "play_capture_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 2 || $# -eq 3 ]] || fail "usage: $0 SKARNEL SKARNEL_RENDER [paced|unpaced|period|level]"
mode=${3:-paced}
skarnel=$(realpath "$1")
render=$(realpath "$2")
[[ -x $skarnel && -x $render ]] || fail "not executable: $skarnel or $render"
for tool in xvfb-run Xvfb xdotool dbus-run-session setsid pgrep cmp od; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, procps"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CONFIG_HOME SKARNEL_AUDIO SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$(dirname "$0")/lib/store.sh"
seed_store
cap=$HOME/cap.raw
: >"$cap"
if [[ $mode == paced || $mode == level ]]; then
    # A sound card takes samples at their rate; ALSA's null device takes them
    # at once. So the device's bytes go through a pacer passing 0.1 s of
    # 11025 Hz 16-bit mono every 0.1 s; a full pipe blocks the writer as a
    # sound card would. The pacer appends: the file plugin would truncate its
    # own file at every open.
    cat >"$HOME/pace.sh" <<EOF
#!/bin/bash
while n=\$(dd bs=2205 count=1 iflag=fullblock status=none | tee -a "$cap" | wc -c); ((n > 0)); do
    sleep 0.1
done
EOF
    chmod +x "$HOME/pace.sh"
    sink="| $HOME/pace.sh"
else
    sink="| cat >> $cap"
fi
source "$(dirname "$0")/lib/private_alsa.sh"
private_alsa "$HOME/alsa.conf" \
    "pcm.!default { type file; slave.pcm \"null\"; file \"$sink\"; format \"raw\" }"

block=16384
min_capture=$((4 * block))

# Runs inside Xvfb: start the program, ON (F11), about 1 s of play, OFF (F9),
# then end it and wait for everything it started to finish writing.
drive() {
    set -euo pipefail
    # Its own session, so that the pacers ALSA starts can be waited for.
    setsid "$skarnel" >"$work/skarnel.log" 2>&1 &
    local pid=$! wid
    local end="kill $pid 2>/dev/null || true"
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Skarnel$') ||
        { eval "$end"; echo "no Skarnel window appeared within 20 s" >&2; return 1; }
    wid=${wid%%$'\n'*}
    xdotool windowfocus --sync "$wid"
    title_becomes() {  # waits up to $2 tenths of a second (default 10 s) for the window title
        local i
        for ((i = 0; i < ${2:-100}; i++)); do
            [[ $(xdotool getwindowname "$wid") == "$1" ]] && return 0
            sleep 0.1
        done
        echo "window title stayed '$(xdotool getwindowname "$wid")', expected '$1'" >&2
        return 1
    }
    if [[ $mode == period ]]; then
        # Loop off through the window's command, then ON: the null device
        # takes the period at once and the window stops by itself.
        local name=org.orvane.Skarnel.Generator.pid$pid
        for ((i = 0; i < 50; i++)); do
            gdbus call --session --dest "$name" --object-path /Generator \
                --method org.orvane.Skarnel.Generator.Command 0x40B 0 0 >/dev/null 2>&1 && break
            sleep 0.1
        done
        xdotool key F11
        sleep 3
    else
        xdotool key F11
        title_becomes "ON - Skarnel" || { eval "$end"; echo "F11 did not start playback" >&2; return 1; }
        if [[ $mode == level ]]; then
            local name=org.orvane.Skarnel.Generator.pid$pid
            gdbus call --session --dest "$name" --object-path /Generator \
                --method org.orvane.Skarnel.Generator.Command -- 0x410 40 0 >/dev/null
            gdbus call --session --dest "$name" --object-path /Generator \
                --method org.orvane.Skarnel.Generator.Command -- 0x413 1000000 1000000 >/dev/null
            sleep 3  # past the 1.5 s of buffers queued before the commands
        fi
        sleep 1
        xdotool key F9
    fi
    # Unpaced, a responsive window stops at once: allow 2 s for a loaded
    # machine. Paced, closing the device waits for the pacer to drain the
    # pipe (several seconds), which says nothing about the window.
    local stop_limit=100 i
    [[ $mode != paced && $mode != level ]] && stop_limit=20
    title_becomes "Skarnel" "$stop_limit" ||
        { eval "$end"; echo "F9 did not stop playback within $((stop_limit / 10)) s" >&2; return 1; }
    kill -TERM "$pid"
    wait "$pid" || true
    local i
    for ((i = 0; i < 100; i++)); do
        pgrep -s "$pid" >/dev/null || return 0
        sleep 0.1
    done
    echo "processes of the program's session still run after 10 s" >&2
    return 1
}
# xvfb-run is a POSIX shell script, which drops exported bash functions.
{ declare -p skarnel work mode; declare -f drive; echo drive; } >"$work/drive.sh"

# A private session bus: without one Qt would autolaunch a bus of its own.
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/drive.sh" ||
    fail "driving the program under Xvfb failed; its output:
$(cat "$work/skarnel.log")"

"$render" --rate 11025 --duration 10 --channels mono --left-noise pink --left-crest 6:1 \
    "$work/render.wav" || fail "skarnel-render failed"
tail -c +45 "$work/render.wav" >"$work/render.raw"
rendered=$(stat -c %s "$work/render.raw")
((rendered == 10 * 11025 * 2)) || fail "the render holds $rendered data bytes, not 10 s of samples"

# Leading silence the device may have added: whole zero frames (the signal's
# own first sample is far from zero).
captured=$(stat -c %s "$cap")
first=$(cmp "$cap" /dev/zero 2>/dev/null | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p') || true
[[ -n $first ]] || fail "the capture holds no signal: $captured bytes, all zero"
lead=$(((first - 1) / 2 * 2))
tail -c +$((lead + 1)) "$cap" >"$work/played.raw"
played=$(stat -c %s "$work/played.raw")
echo "captured $captured bytes, $lead of them leading zeros; rendered $rendered bytes"

((played >= min_capture)) ||
    fail "only $played bytes were played (at least $min_capture expected, 4 buffers of $block)"
if [[ $mode == period ]]; then
    # Every frame of the period, then only the silence that fills its last
    # buffer.
    ((played >= rendered)) ||
        fail "only $((played / 2)) of the period's $((rendered / 2)) frames were played"
    tail -c +$((rendered + 1)) "$work/played.raw" | cmp -s - <(head -c $((played - rendered)) /dev/zero) ||
        fail "something other than silence was played after the period's end"
fi
# Past one period the program loops on with fresh noise, which the one-period
# render does not hold: compare what both have.
n=$((played < rendered ? played : rendered))
if ! cmp -n "$n" "$work/played.raw" "$work/render.raw"; then
    fail "the played signal differs from the rendered one within the first $n bytes
$(cmp -l -n "$n" "$work/played.raw" "$work/render.raw" | head -n 5)"
fi
echo "play_capture_test: PASS ($n bytes identical)"
