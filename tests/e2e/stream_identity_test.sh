#!/usr/bin/env bash
# End to end: each window's stream has an identity of its own, so what the
# desktop's mixer does to one window's stream never reaches another's. Two
# windows on a private PulseAudio server (with its stream restore) or on
# PipeWire with WirePlumber: Generator 1 plays, is moved to another sink and
# set to 50 % with pactl, and stops; then Generator 2 plays its period on the
# sink its list shows ("Windows Default", the server's default sink), at full
# level: its recording is skarnel-render's signal, bit for bit.
#
# Usage: stream_identity_test.sh pulseaudio|pipewire SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
set -euo pipefail

fail() { echo "stream_identity_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 4 ]] || fail "usage: $0 pulseaudio|pipewire SKARNEL SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE"
server=$1
export SKARNEL_BIN SKARNEL_RENDER SKARNEL_CAPTURE_COMPARE
SKARNEL_BIN=$(realpath "$2") SKARNEL_RENDER=$(realpath "$3") SKARNEL_CAPTURE_COMPARE=$(realpath "$4")
if [[ $server == pulseaudio ]] && ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here"
    exit 77
fi
for tool in xvfb-run Xvfb xdotool dbus-run-session gdbus sqlite3 pactl parec; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3, pulseaudio-utils"
done

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
source "$here/lib/sound_servers.sh"
sound_private_home "$work"
mapfile -t values < <(sound_window_values Loop=0 Duration=5)
seed_store "Fs|1|4" "Quant|1|1" "${values[@]}"
export SKARNEL_AUDIO=pulse
sound_render "$work/render.wav" 5 || fail "skarnel-render failed"

{
    echo "set -euo pipefail"
    echo "source '$here/lib/sound_servers.sh'"
    echo "source '$here/lib/window_bus.sh'"
    echo "SOUND_LOGS='$work' server=$server"
    cat "$here/lib/stream_identity_steps.sh"
} >"$work/inner.sh"

status=0
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" || status=$?
((status == SOUND_SKIP)) && exit "$SOUND_SKIP"
((status == 0)) || fail "see above; the programs' output:
$(tail -n 10 "$work"/skarnel*.log 2>/dev/null)"
sound_compare "$work/recording" "$work/render.wav" --frames $((5 * 48000)) ||
    fail "Generator 2's recording is not the rendered signal at full level (see above); its stream:
$(cat "$work/second-stream.txt")"
echo "stream_identity_test: PASS"
