#!/usr/bin/env bash
# End to end: two instances play at once on a private PulseAudio server. The
# server must show two playback streams, each named after its window
# ("Generator N - Pink 6:1 | White 4:1"), with different window numbers, so a
# user can tell them apart in a mixer.
#
# Usage: two_windows_streams_test.sh SKARNEL
# Environment: SKARNEL_AUDIO is passed on (unset: the program's own choice).
set -euo pipefail

fail() { echo "two_windows_streams_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL"
export SKARNEL_BIN
SKARNEL_BIN=$(realpath "$1")
# PipeWire's pulse service replaces the PulseAudio server on a desktop (the
# two packages exclude each other): without the server this test cannot run.
if ! command -v pulseaudio >/dev/null; then
    echo "SKIP: the PulseAudio server (package pulseaudio) is not installed; pipewire-pulse replaces it here, and e2e.pipewire_playback plays through that"
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
source "$here/lib/private_alsa.sh"
sound_private_home "$work"
mapfile -t values < <(sound_window_values Loop=1)
seed_store "Fs|1|4" "Quant|1|1" "${values[@]}"
private_alsa "$work/alsa.conf" 'pcm.!default { type pulse }
ctl.!default { type pulse }'

cat >"$work/inner.sh" <<EOF
set -euo pipefail
source "$here/lib/sound_servers.sh"
source "$here/lib/window_bus.sh"
SOUND_LOGS="$work"
EOF
cat >>"$work/inner.sh" <<'EOF'
trap sound_cleanup EXIT
start_pulseaudio || exit 1
pids=()
for n in 1 2; do
    "$SKARNEL_BIN" >"$SOUND_LOGS/skarnel$n.log" 2>&1 &
    pids+=($!)
    _sound_started $!
    # One after the other: each window takes its number from those running.
    window_wait_ready "${pids[-1]}" || exit 1
done
for p in "${pids[@]}"; do
    window_command "$p" "$WINDOW_START" || { echo "ON in $p failed" >&2; exit 1; }
    window_wait_running "$p" true 50 || exit 1
done
# Both streams exist once both windows play; allow a loaded machine a moment.
for ((i = 0; i < 30; i++)); do
    (($(pactl list short sink-inputs | wc -l) >= 2)) && break
    sleep 0.1
done
pactl list sink-inputs >"$SOUND_LOGS/sink-inputs.txt"
for p in "${pids[@]}"; do
    window_command "$p" "$WINDOW_STOP" || true
done
EOF

dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inner.sh" ||
    fail "see above; the programs' output:
$(tail -n 10 "$work"/skarnel*.log 2>/dev/null)"

mapfile -t names < <(sed -n 's/^[[:space:]]*media\.name = "\(.*\)"$/\1/p' "$work/sink-inputs.txt")
printf 'stream: %s\n' "${names[@]}"
((${#names[@]} == 2)) || fail "the server shows ${#names[@]} streams, expected 2:
$(cat "$work/sink-inputs.txt")"
numbers=()
for name in "${names[@]}"; do
    [[ $name =~ ^Generator\ ([0-9]+)\ -\ Pink\ 6:1\ \|\ White\ 4:1$ ]] ||
        fail "stream '$name' is not named after its window (Generator N - Pink 6:1 | White 4:1)"
    numbers+=("${BASH_REMATCH[1]}")
done
[[ $(printf '%s\n' "${numbers[@]}" | sort -n | tr '\n' ' ') == "1 2 " ]] ||
    fail "the streams carry window numbers ${numbers[*]}, expected 1 and 2"
echo "two_windows_streams_test: PASS"
