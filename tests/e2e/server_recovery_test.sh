#!/usr/bin/env bash
# End to end: the sound server dies while the window plays. Within 2 s the
# window must be Stopped (State() running=false), have logged that the device
# ended playback, show its "Sound Device Error" note, and still answer over
# D-Bus. Once a server runs again, ON must play again, and what it plays must
# be the program's signal, bit for bit: white noise on both channels, so that
# the second playback is the continuation of skarnel-render's render of the
# same settings (the process draws its noise from one sequence).
#
# Usage: server_recovery_test.sh SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
# Environment: SKARNEL_AUDIO is passed on (unset: the program's own choice).
set -euo pipefail

fail() { echo "server_recovery_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 3 ]] || fail "usage: $0 SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE"
export SKARNEL_BIN SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
SKARNEL_BIN=$(realpath "$1") SKARNEL_RENDER=$(realpath "$2") SKARNEL_CAPTURE_COMPARE=$(realpath "$3")
# PipeWire's pulse service replaces the PulseAudio server on a desktop (the
# two packages exclude each other): without the server this test cannot run.
if ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here, and e2e.pipewire_playback plays through that"
    exit 77
fi
for tool in xvfb-run Xvfb xdotool dbus-run-session gdbus sqlite3 pulseaudio pactl parec; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3, pulseaudio, pulseaudio-utils"
done

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
source "$here/lib/sound_servers.sh"
source "$here/lib/private_alsa.sh"
sound_private_home "$work"
mapfile -t values < <(window_values mono=0 WaveFormLeft=0 WaveFormRight=0 PeakRmsR=3 Loop=1 Duration=30)
seed_store "Fs|1|4" "Quant|1|1" "${values[@]}"
private_alsa "$work/alsa.conf" 'pcm.!default { type pulse }
ctl.!default { type pulse }'
export QT_LOGGING_RULES="skarnel.window.warning=true"
"$SKARNEL_RENDER" --rate 48000 --duration 30 --channels stereo --left-noise white --left-crest 6:1 \
    --right-noise white --right-crest 4:1 "$work/render.wav" || fail "skarnel-render failed"

cat >"$work/inner.sh" <<EOF
set -euo pipefail
source "$here/lib/sound_servers.sh"
source "$here/lib/window_bus.sh"
SOUND_LOGS="$work"
EOF
cat >>"$work/inner.sh" <<'EOF'
trap sound_cleanup EXIT
log=$SOUND_LOGS/skarnel.log
start_pulseaudio || exit 1
"$SKARNEL_BIN" >"$log" 2>&1 &
pid=$!
_sound_started "$pid"
window_wait_ready "$pid" || exit 1
window_command "$pid" "$WINDOW_START" || { echo "ON failed" >&2; exit 1; }
window_wait_running "$pid" true 50 || exit 1
sleep 2
kill_sound_server
killed=$(date +%s%N)

# Stopped, with the reason logged, within 2 s; every State() call answered.
stopped=
for ((i = 0; i < 40; i++)); do
    running=$(window_running "$pid") || { echo "the window stopped answering State() after the server died" >&2; exit 1; }
    if [[ $running == false ]] && grep -q "playback ended by the device:" "$log"; then
        stopped=$((($(date +%s%N) - killed) / 1000000))
        break
    fi
    sleep 0.05
done
[[ -n $stopped ]] || {
    echo "2 s after the server died: running=$(window_running "$pid"), log: $(tail -n 5 "$log")" >&2
    exit 1
}
((stopped <= 2000)) || { echo "Stopped only after $stopped ms" >&2; exit 1; }
echo "Stopped $stopped ms after the server died: $(grep -m1 "playback ended by the device:" "$log")"
# The note is a second window of the process; it is closed as a user would.
note=
for ((i = 0; i < 50; i++)); do
    mapfile -t shown < <(xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' 2>/dev/null)
    if ((${#shown[@]} >= 2)); then
        note=${shown[-1]}
        break
    fi
    sleep 0.1
done
[[ -n $note ]] || { echo "no Sound Device Error note appeared" >&2; exit 1; }
xdotool windowfocus --sync "$note" key Return 2>/dev/null || true
[[ $(window_running "$pid") == false ]] || { echo "the window does not answer after the note" >&2; exit 1; }

# A server again: the program connects to it by itself (within 5 s, as a
# client of the new server), ON plays again, and what it plays is the signal.
start_pulseaudio || exit 1
for ((i = 0; i < 50; i++)); do
    pactl list clients 2>/dev/null | grep -q "application.process.id = \"$pid\"" && break
    sleep 0.1
done
((i < 50)) || { echo "the program did not connect to the restarted server within 5 s" >&2; exit 1; }
sound_record_start "$SOUND_LOGS/recording" parec || exit 1
window_command "$pid" "$WINDOW_START" || { echo "ON after the restart failed" >&2; exit 1; }
window_wait_running "$pid" true 50 || { echo "ON after the restart did not play" >&2; exit 1; }
sleep 3
sound_record_stop
window_command "$pid" "$WINDOW_STOP" || true
EOF

dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" ||
    fail "see above; the program's output:
$(tail -n 20 "$work/skarnel.log" 2>/dev/null)"

out=$(sound_compare "$work/recording" "$work/render.wav" --anywhere --recording-may-end-first) ||
    fail "the second playback is not the program's signal:
$out"
echo "$out"
# At least 2 s of the 3 s played must have been compared.
compared=$(sed -n 's/^result: .* compared=\([0-9]*\) .*/\1/p' <<<"$out")
((compared >= 96000)) || fail "only $compared frames of the second playback were recorded"
echo "server_recovery_test: PASS"
