#!/usr/bin/env bash
# End to end: a sound server that stops answering while the window plays
# (stopped with SIGSTOP, as a hung server would be). The window stops within
# 3 s with "The sound server does not answer"; once the server runs again,
# ON plays again. OFF against a stopped server returns at once.
#
# Usage: server_freeze_test.sh SKARNEL
set -euo pipefail

fail() { echo "server_freeze_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
export SKARNEL_BIN
SKARNEL_BIN=$(realpath "$1")
if ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here"
    exit 77
fi
for tool in xvfb-run Xvfb xdotool dbus-run-session gdbus sqlite3 pulseaudio pactl; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3, pulseaudio, pulseaudio-utils"
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
export SKARNEL_AUDIO=pulse QT_LOGGING_RULES="skarnel.window.warning=true"

{
    echo "set -euo pipefail"
    echo "source '$here/lib/sound_servers.sh'"
    echo "source '$here/lib/window_bus.sh'"
    echo "SOUND_LOGS='$work'"
    cat "$here/lib/server_freeze_steps.sh"
} >"$work/inner.sh"

dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" ||
    fail "see above; the program's output:
$(tail -n 10 "$work"/skarnel.log 2>/dev/null)"
echo "server_freeze_test: PASS"
