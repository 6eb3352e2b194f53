#!/usr/bin/env bash
# End to end: "skarnel script.wbs" under Xvfb plays the presets the script
# names on ALSA's default device routed to a file, never shows the generator
# window, ends by itself, and leaves the stored settings as they were.
#
# Usage: script_cmdline_test.sh SKARNEL SKARNEL_RENDER
set -euo pipefail

fail() { echo "script_cmdline_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL SKARNEL_RENDER"
skarnel=$(realpath "$1")
render=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
for tool in xvfb-run xdotool dbus-run-session sqlite3 cmp; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing"
done

work=$(mktemp -d)
trap '[[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CONFIG_HOME SKARNEL_AUDIO SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
# A user's stored window (an odd period) and output settings (11025 Hz).
seed_store "Duration|0|7.5" "Fs|1|1" "Quant|1|1"
before=$(dump_store)

cap=$HOME/cap.raw
: >"$cap"
source "$here/lib/private_alsa.sh"
private_alsa "$HOME/alsa.conf" \
    "pcm.!default { type file; slave.pcm \"null\"; file \"| cat >> $cap\"; format \"raw\" }"

# Two preset files; the script plays slot 1 of the first (pink, 1 s), then
# slot 2 of the second (white, 1.5 s). Each plays its period once (a script
# turns Loop off).
describe() {  # SLOT NAME PERIOD NOISE
    local slot
    for slot in 1 2 3 4; do
        echo "[slot $slot]"
        if ((slot == $1)); then
            printf 'name = %s\nperiod = %s\nmono = 1\nnoiseFunctionLeft = %s\n' "$2" "$3" "$4"
            printf 'crestFactorLeft = 0\namplitudeLeft = -6\n'
        else
            echo "name = Slot $slot"
        fi
    done
}
make_presets=$(dirname "$render")/skarnel-make-presets
describe 1 First 1 1 >"$work/a.txt"
describe 2 Second 1.5 0 >"$work/b.txt"
"$make_presets" "$work/a.txt" "$work/a.vlm" || fail "could not write the first preset file"
"$make_presets" "$work/b.txt" "$work/b.vlm" || fail "could not write the second preset file"
printf 'play 1 %s\r\nplay 2 %s\r\nend\r\n' "$work/a.vlm" "$work/b.vlm" >"$work/run.wbs"

drive() {
    set -euo pipefail
    "$skarnel" "$work/run.wbs" >"$work/skarnel.log" 2>&1 &
    local pid=$! i
    # Up to 30 s for two short plays; the generator window must never appear.
    for ((i = 0; i < 300; i++)); do
        local shown
        # The generator window is the only one titled "Skarnel" with a menu
        # bar (message boxes carry the same title, and are reported too).
        if shown=$(xdotool search --onlyvisible --name '^Skarnel$' 2>/dev/null); then
            import -window "${shown%%$'\n'*}" "$work/shown.png" 2>/dev/null || true
            kill "$pid" 2>/dev/null || true
            echo "a window titled Skarnel was shown (see $work/shown.png)" >&2
            return 1
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        echo "the program did not end by itself within 30 s" >&2
        return 1
    fi
    wait "$pid" || { echo "the program ended with status $?" >&2; return 1; }
}
{ declare -p skarnel work; declare -f drive; echo drive; } >"$work/drive.sh"
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/drive.sh" ||
    fail "running the script failed; the program's output:
$(cat "$work/skarnel.log")"

after=$(dump_store)
[[ $before == "$after" ]] || fail "the stored settings changed:
before: $before
after:  $after"

# The first preset's period comes first in the capture, bit for bit.
"$render" --preset "$work/a.vlm" --slot 1 --rate 11025 "$work/first.wav" ||
    fail "skarnel-render failed"
tail -c +45 "$work/first.wav" >"$work/first.raw"
first=$(stat -c %s "$work/first.raw")
((first == 11025 * 2)) || fail "the render holds $first bytes, not 1 s of mono samples"
start=$(cmp "$cap" /dev/zero 2>/dev/null | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p') || true
[[ -n $start ]] || fail "the capture holds no signal"
lead=$(((start - 1) / 2 * 2))
tail -c +$((lead + 1)) "$cap" >"$work/played.raw"
cmp -n "$first" "$work/played.raw" "$work/first.raw" ||
    fail "the first preset's period differs from its render"

# The second preset (white noise, 1.5 s) follows: count the frames that are
# not silent after the first period.
loud=$(tail -c +$((first + 1)) "$work/played.raw" | od -An -v -td2 -w2 | awk '$1 != 0' | wc -l)
((loud > 11025 * 3 / 2 * 9 / 10)) ||
    fail "only $loud sounding samples after the first period (1.5 s of the second expected)"
echo "script_cmdline_test: PASS (first period identical, $loud samples of the second)"
