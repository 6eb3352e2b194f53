#!/usr/bin/env bash
# How much of one core the program uses while it plays the heaviest chain
# (stereo pink 10:1, Peaking 1 kHz -10 dB Q 3, Triangular modulation 2 s at
# 100 % on both channels) at 48000 Hz 16-bit on a sound server, which takes
# samples at their real rate: the user's server when one answers, else a
# private PulseAudio server with a null sink. With VIEW=hidden (the default)
# the program runs a script that plays the preset once, its window hidden;
# with VIEW=shown the window loads the preset file, shows its live view, and
# recalls and starts the preset on commands over D-Bus. Its CPU time (user +
# system, from /proc) is read over a window of WINDOW seconds that starts
# after the start-up has settled. Each thread's share and how often it was
# woken come first (fewer wake-ups is most of what keeps playing cheap), then
# the whole process's.
#
# Usage: bench/cpu_while_playing.sh [path/to/skarnel] [path/to/skarnel-make-presets]
# Environment: WINDOW (default 60) seconds measured; VIEW hidden or shown;
# PERF=FILE also records a profile of the window with perf into FILE;
# SKARNEL_AUDIO is passed on (unset: the program's own choice of back-end;
# simulated: no server). Needs xvfb-run, dbus-run-session and sqlite3
# (VIEW=shown: also xdotool and gdbus); pulseaudio and pactl for the private
# server.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
skarnel=$(realpath "${1:-$here/../build/src/skarnel}")
make_presets=$(realpath "${2:-$here/../build/tools/skarnel-make-presets}")
window="${WINDOW:-60}"
view="${VIEW:-hidden}"
[[ $view == hidden || $view == shown ]] || { echo "cpu_while_playing.sh: VIEW is hidden or shown" >&2; exit 2; }
settle=5
for tool in xvfb-run dbus-run-session sqlite3; do
    command -v "$tool" >/dev/null || { echo "cpu_while_playing.sh: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
source "$here/../tests/e2e/lib/store.sh"
source "$here/../tests/e2e/lib/sound_servers.sh"
source "$here/../tests/e2e/lib/private_alsa.sh"
trap 'sound_cleanup; rm -rf "$work"' EXIT
server="the user's server"
if [[ ${SKARNEL_AUDIO:-} == simulated ]]; then
    server="none (simulated device)"
    sound_private_home "$work"
elif command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
    # The user's server stays reachable: only the settings go elsewhere.
    export HOME=$work/home
    mkdir -p "$HOME"
else
    server="a private PulseAudio server"
    sound_private_home "$work"
    start_pulseaudio || exit 2
fi
# PortAudio reaches the server through ALSA's pulse plug-in.
private_alsa "$work/alsa.conf" 'pcm.!default { type pulse }
ctl.!default { type pulse }'
backend=${SKARNEL_AUDIO:-"the program's choice"}
echo "server   $server; back-end $backend; live view $view"
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
seed_store "Fs|1|4" "Quant|1|1"  # 48000 Hz, 16 bits

period=$((window + settle + 10))
{
    echo "[slot 1]"
    echo "name = Heaviest"
    echo "period = $period"
    echo "loop = 0"
    echo "mono = 0"
    for side in Left Right; do
        echo "noiseFunction$side = 1"
        echo "crestFactor$side = 6"
        echo "filterType$side = 1"
        echo "filterFrequency$side = 1000"
        echo "filterGain$side = -10"
        echo "filterQ$side = 3"
        echo "modulation$side = 1"
        echo "modFunction$side = 3"
        echo "modPeriod$side = 2"
        echo "modDepth$side = 100"
    done
    for slot in 2 3 4; do
        printf '[slot %s]\nname = Slot %s\n' "$slot" "$slot"
    done
} >"$work/heavy.txt"
"$make_presets" "$work/heavy.txt" "$work/heavy.wbq" >/dev/null
printf 'play 1 %s\r\nend\r\n' "$work/heavy.wbq" >"$work/heavy.wbs"

measure() {
    set -euo pipefail
    local pid ticks hz before after
    if [[ $view == shown ]]; then
        source "$here/../tests/e2e/lib/window_bus.sh"
        "$skarnel" "$work/heavy.wbq" >"$work/skarnel.log" 2>&1 &
        pid=$!
        window_wait_ready "$pid" >&2
        window_command "$pid" 0x418 0 1  # recall slot 1
        window_command "$pid" 0x400      # ON
    else
        "$skarnel" "$work/heavy.wbs" >"$work/skarnel.log" 2>&1 &
        pid=$!
    fi
    hz=$(getconf CLK_TCK)
    ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
    # Per thread: name (spaces joined), CPU ticks, voluntary context
    # switches (how often it slept and was woken).
    threads() {
        local task
        for task in /proc/"$pid"/task/*; do
            printf '%s %s %s %s\n' "${task##*/}" "$(tr ' ' '_' <"$task/comm")" \
                "$(awk '{ print $14 + $15 }' "$task/stat")" \
                "$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")"
        done 2>/dev/null
    }
    sleep "$settle"
    threads >"$work/threads.before"
    before=$(ticks)
    if [[ -n $perf ]]; then
        # The profile costs some CPU of its own; its figures are for finding
        # where the time goes, not for the shares printed below.
        perf record -F 4999 -g -p "$pid" -o "$perf" -- sleep "$window" >/dev/null 2>&1
    else
        sleep "$window"
    fi
    after=$(ticks)
    threads >"$work/threads.after"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v hz="$hz" -v w="$window" '
        NR == FNR { cpu[$1] = $3; woken[$1] = $4; next }
        ($1 in cpu) && $3 - cpu[$1] + $4 - woken[$1] > 0 {
            printf "thread   %-16s %5.2f %% of one core, woken %4.0f times a second\n",
                $2, 100 * ($3 - cpu[$1]) / hz / w, ($4 - woken[$1]) / w
        }' "$work/threads.before" "$work/threads.after"
    awk -v a="$before" -v b="$after" -v hz="$hz" -v w="$window" \
        'BEGIN { printf "cpu      %.2f s of CPU in %d s of playing: %.2f %% of one core\n", (b - a) / hz, w, 100 * (b - a) / hz / w }'
}
perf=${PERF:+$(realpath -m "$PERF")}
{ declare -p skarnel work window settle view here perf; declare -f measure; echo measure; } >"$work/measure.sh"
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/measure.sh" 2>/dev/null
