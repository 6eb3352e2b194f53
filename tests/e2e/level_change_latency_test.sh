#!/usr/bin/env bash
# How soon a change is heard: the window (under Xvfb, on a private session
# bus) plays mono white noise 1.42:1 at -40 dBFS with Loop to a private
# PulseAudio server's null sink; a level of 0 dBFS is sent over D-Bus, and
# the sink's monitor must carry the new level no later than the configured
# buffering (Buffer Size x Buffers) plus 0.15 s after the command went out.
#
# Usage: level_change_latency_test.sh first-run|48k SKARNEL
#   first-run  the output settings of a first start: 11025 Hz, 4 x 16384 bytes
#   48k        48000 Hz with the same buffers
# Prints "delay: S s (allowed A s)". Exit status 77: no PulseAudio server here.
set -euo pipefail

fail() { echo "level_change_latency_test: FAIL: $*" >&2; exit 1; }

mode=${1:-}
[[ $mode == first-run || $mode == 48k ]] || fail "usage: $0 first-run|48k SKARNEL"
[[ $# -eq 2 ]] || fail "usage: $0 first-run|48k SKARNEL"
export SKARNEL_BIN
SKARNEL_BIN=$(realpath "$2")
for tool in xvfb-run xdotool dbus-run-session gdbus sqlite3 pactl parec python3; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing"
done
command -v pulseaudio >/dev/null ||
    { echo "SKIP: the PulseAudio server (package pulseaudio) is not installed"; exit 77; }

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
source "$here/lib/sound_servers.sh"
sound_private_home "$work"
mapfile -t values < <(window_values WaveFormLeft=0 PeakRmsL=0 AmplitudeLeft=-40 Loop=1)
if [[ $mode == 48k ]]; then
    seed_store "Fs|1|4" "Quant|1|1" "BufferSize|1|2" "Buffers|1|2" "${values[@]}"
    rate=48000
else
    seed_store "${values[@]}"  # no output values: the first start's
    rate=11025
fi
# Mono 16-bit: 4 x 16384 bytes are 32768 frames.
allowed=$(python3 -c "print(32768 / $rate + 0.15)")
export SKARNEL_AUDIO=pulse

cat >"$work/inner.sh" <<EOF
set -euo pipefail
source "$here/lib/sound_servers.sh"
source "$here/lib/window_bus.sh"
SOUND_LOGS="$work"
trap sound_cleanup EXIT
start_pulseaudio || exit 1
"\$SKARNEL_BIN" >"\$SOUND_LOGS/skarnel.log" 2>&1 &
pid=\$!
_sound_started "\$pid"
window_wait_ready "\$pid" || exit 1
sound_record_start "\$SOUND_LOGS/recording" parec || exit 1
window_command "\$pid" "\$WINDOW_START" || { echo "ON failed" >&2; exit 1; }
window_wait_running "\$pid" true 50 || exit 1
sleep 4  # the queue and the server's buffer are full of the quiet level
date +%s.%N >"\$SOUND_LOGS/change"
window_command "\$pid" 0x410 0 0 || { echo "the level command failed" >&2; exit 1; }
sleep $(python3 -c "print(int($allowed) + 2)")
date +%s.%N >"\$SOUND_LOGS/end"
sound_record_stop
EOF
status=0
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" || status=$?
((status == SOUND_SKIP)) && exit "$SOUND_SKIP"
((status == 0)) || fail "playing failed; the program's output:
$(tail -n 20 "$work/skarnel.log" 2>/dev/null)"

# The recording ends when the recorder was stopped: its last frame was at
# the sink then, give or take the recorder's 20 ms of latency. The first
# 10 ms window whose RMS is above -20 dBFS is where the new level begins.
python3 - "$work/recording" "$(cat "$work/change")" "$(cat "$work/end")" "$allowed" <<'PY'
import math, struct, sys
path, change, end, allowed = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
data = open(path, 'rb').read()
frames = len(data) // 4
samples = struct.unpack('<%dh' % (2 * frames), data[:4 * frames])
window = 480
start_wall = end - frames / 48000.0
loud_at = None
for w in range(frames // window):
    chunk = samples[2 * w * window:2 * (w + 1) * window:2]
    rms = math.sqrt(sum(s * s for s in chunk) / window) / 32767.0
    if rms > 0.1:
        loud_at = start_wall + w * window / 48000.0
        break
if loud_at is None:
    print("level_change_latency_test: FAIL: the new level never reached the sink")
    sys.exit(1)
delay = loud_at - change
print("delay: %.3f s (allowed %.3f s)" % (delay, allowed))
if delay > allowed:
    print("level_change_latency_test: FAIL: heard %.3f s after the change" % delay)
    sys.exit(1)
if delay < 0:
    print("level_change_latency_test: FAIL: the new level came before the change")
    sys.exit(1)
PY
echo "level_change_latency_test: PASS"
