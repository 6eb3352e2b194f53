#!/usr/bin/env bash
# End to end on a real sound server: the window (under Xvfb, on a private
# session bus) plays 10 s of 48000 Hz stereo 16-bit (left pink 6:1, right
# white 4:1, Loop off, all from the settings store) to a private server's null
# sink; the sink's monitor is recorded and must hold skarnel-render's output
# for the same settings, every frame, in order.
#
# Usage: server_playback_test.sh pulseaudio|pipewire [load|stall] SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
#   load   two busy loops at nice 0 keep both cores busy while it plays, with
#          the default buffers: nothing may be lost.
#   stall  the GUI thread is held up for 1 s, 3 s into the playback (a test
#          hook of the program): the blocks are made on a thread of their
#          own, so nothing may be lost either.
# Environment: SKARNEL_AUDIO is passed on (unset: the program's own choice).
# Exit status 77: the server cannot run here (skipped).
set -euo pipefail

fail() { echo "server_playback_test: FAIL: $*" >&2; exit 1; }

server=${1:-}
[[ $server == pulseaudio || $server == pipewire ]] || fail "usage: $0 pulseaudio|pipewire [load|stall] SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE"
shift
load=0
if [[ ${1:-} == load ]]; then
    load=1
    shift
elif [[ ${1:-} == stall ]]; then
    export SKARNEL_TEST_STALL_GUI_MS=3000,1000
    shift
fi
[[ $# -eq 3 ]] || fail "usage: $0 pulseaudio|pipewire [load|stall] SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE"
export SKARNEL_BIN SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
SKARNEL_BIN=$(realpath "$1") SKARNEL_RENDER=$(realpath "$2") SKARNEL_CAPTURE_COMPARE=$(realpath "$3")
for tool in xvfb-run Xvfb xdotool dbus-run-session gdbus sqlite3 pactl parec; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3, pulseaudio-utils"
done
# PipeWire's pulse service replaces the PulseAudio server on a desktop (the
# two packages exclude each other): without the server this test cannot run.
if [[ $server == pulseaudio ]] && ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here, and e2e.pipewire_playback plays through that"
    exit 77
fi

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
source "$here/lib/sound_servers.sh"
source "$here/lib/private_alsa.sh"
sound_private_home "$work"
mapfile -t values < <(sound_window_values Loop=0 Duration=10)
seed_store "Fs|1|4" "Quant|1|1" "${values[@]}"  # 48000 Hz, 16 bits, default buffers
# PortAudio reaches the server through ALSA's pulse plug-in, whatever the
# machine's ALSA configuration says.
private_alsa "$work/alsa.conf" 'pcm.!default { type pulse }
ctl.!default { type pulse }'
export QT_LOGGING_RULES="skarnel.window.warning=true"
sound_render "$work/render.wav" 10 || fail "skarnel-render failed"

# Runs inside Xvfb on the private bus: server, recorder, (load,) the window.
cat >"$work/inner.sh" <<EOF
set -euo pipefail
source "$here/lib/sound_servers.sh"
source "$here/lib/window_bus.sh"
SOUND_LOGS="$work"
trap sound_cleanup EXIT
server=$server load=$load
EOF
cat >>"$work/inner.sh" <<'EOF'
if [[ $server == pulseaudio ]]; then
    start_pulseaudio || exit 1
else
    start_pipewire
fi
# parec on both servers (PipeWire's through pipewire-pulse): pw-record 0.3.65
# itself drops 256-frame blocks when the machine is busy, which would be
# counted against the program. SKARNEL_E2E_RECORDER=pw-record uses it anyway.
sound_record_start "$SOUND_LOGS/recording" "${SKARNEL_E2E_RECORDER:-parec}" || exit 1
((load)) && sound_load_start 2
"$SKARNEL_BIN" >"$SOUND_LOGS/skarnel.log" 2>&1 &
pid=$!
_sound_started "$pid"
window_wait_ready "$pid" || exit 1
window_command "$pid" "$WINDOW_START" || { echo "ON failed" >&2; exit 1; }
window_wait_running "$pid" true 50 || exit 1
# 10 s of signal, then the window stops by itself (Loop off).
window_wait_running "$pid" false 250 || exit 1
sleep 1  # what the server still holds reaches the monitor
sound_record_stop
EOF

status=0
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" || status=$?
((status == SOUND_SKIP)) && exit "$SOUND_SKIP"
((status == 0)) || fail "playing on $server failed; the program's output:
$(tail -n 20 "$work/skarnel.log" 2>/dev/null)"

if [[ -n ${SKARNEL_TEST_STALL_GUI_MS:-} ]]; then
    grep -q "test hook: the GUI thread is held for 1000 ms" "$work/skarnel.log" ||
        fail "the program did not hold its GUI thread up; its output:
$(tail -n 20 "$work/skarnel.log" 2>/dev/null)"
fi
echo "$server$( ((load)) && echo ' under load'): $(stat -c %s "$work/recording") bytes recorded"
# Every frame of the period arrives, the last buffer's included (silence
# follows the period's end within it).
played=$((10 * 48000))
sound_compare "$work/recording" "$work/render.wav" --frames "$played" ||
    fail "the recording is not the rendered signal (see above); the program's output:
$(tail -n 20 "$work/skarnel.log" 2>/dev/null)"
echo "server_playback_test: PASS"
