#!/usr/bin/env bash
# End to end: the chosen sink is known by the server's name for it. On a
# private PulseAudio server with two sinks whose descriptions share their
# first 32 bytes ("Family 17h/19h HD Audio Controller Analog Stereo" and
# "... Digital Stereo"):
#  - the second is chosen, the program closed and started again: ON plays
#    on the second (recorded from both sinks' monitors);
#  - the sink unloaded and loaded again during a session: the next ON plays
#    on it again;
#  - a start while no server answers keeps the chosen sink in the store.
#
# Usage: sink_identity_test.sh SKARNEL
set -euo pipefail

fail() { echo "sink_identity_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
export SKARNEL_BIN
SKARNEL_BIN=$(realpath "$1")
if ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here"
    exit 77
fi
for tool in xvfb-run Xvfb xdotool dbus-run-session gdbus sqlite3 pulseaudio pactl parec python3; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3, pulseaudio, pulseaudio-utils, python3"
done

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
source "$here/lib/sound_servers.sh"
sound_private_home "$work"
mapfile -t values < <(sound_window_values Loop=1)
seed_store "Fs|1|4" "Quant|1|1" "${values[@]}"
# The server's back-end even while no server answers.
export SKARNEL_AUDIO=pulse

{
    echo "set -euo pipefail"
    echo "source '$here/lib/sound_servers.sh'"
    echo "source '$here/lib/window_bus.sh'"
    echo "source '$here/lib/store.sh'"
    echo "SOUND_LOGS='$work'"
    cat "$here/lib/sink_identity_steps.sh"
} >"$work/inner.sh"

dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" ||
    fail "see above; the program's output:
$(tail -n 10 "$work"/skarnel.log 2>/dev/null)"
echo "sink_identity_test: PASS"
