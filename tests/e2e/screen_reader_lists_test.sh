#!/usr/bin/env bash
# End to end: a screen reader reads every list of the generator window by
# what it is for and by its current item ("Left crest factor", "3:1"), and
# can walk its items; after a preset is recalled it reads the new items;
# the output settings' lists are read the same way.
# Read over AT-SPI, as Orca reads it.
#
# Usage: screen_reader_lists_test.sh SKARNEL SKARNEL-MAKE-PRESETS
set -euo pipefail

fail() { echo "screen_reader_lists_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL SKARNEL-MAKE-PRESETS"
skarnel=$(realpath "$1")
make_presets=$(realpath "$2")
for tool in xvfb-run dbus-run-session gdbus sqlite3 xdotool; do
    command -v "$tool" >/dev/null ||
        fail "'$tool' is missing; this test needs the packages xvfb, dbus, libglib2.0-bin, sqlite3, xdotool"
done
# The system's Python has the AT-SPI bindings, whatever python3 is first on
# the path.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
launcher=/usr/libexec/at-spi-bus-launcher
"$python" -c 'import pyatspi' 2>/dev/null && [[ -x $launcher ]] ||
    fail "AT-SPI is missing; this test needs the packages python3-pyatspi and at-spi2-core"
export PYTHON=$python LAUNCHER=$launcher
export READ_LISTS=$(realpath "$(dirname "$0")/lib/read_lists.py")
export WINDOW_BUS_LIB=$(realpath "$(dirname "$0")/lib/window_bus.sh")

source "$(dirname "$0")/lib/private_session.sh"
private_session "$skarnel"
{
    printf '[slot 1]\nname = Lists\nperiod = 10\nloop = 0\nmono = 0\n'
    printf 'noiseFunctionLeft = 1\ncrestFactorLeft = 2\nfilterTypeLeft = 1\nmodFunctionLeft = 3\n'
    printf 'noiseFunctionRight = 0\ncrestFactorRight = 6\nfilterTypeRight = 3\nmodFunctionRight = 2\n'
    for slot in 2 3 4; do
        printf '[slot %s]\nname = Slot %s\n' "$slot" "$slot"
    done
} >"$work/lists.txt"
"$make_presets" "$work/lists.txt" "$work/lists.wbq" >/dev/null

cat >"$work/inner.sh" <<'INNER'
set -euo pipefail
source "$STORE_LIB"
source "$WINDOW_BUS_LIB"
fail() { echo "screen_reader_lists_test: FAIL: $*" >&2; exit 1; }
"$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
launcher_pid=$!
seed_store
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$SKARNEL_BIN" "$WORK/lists.wbq" >"$WORK/skarnel.log" 2>&1 &
pid=$!
trap 'kill $pid $launcher_pid 2>/dev/null || true' EXIT
window_wait_ready "$pid"
echo "as the window starts:"
"$PYTHON" "$READ_LISTS" "Channel mode=Mono" "Output device=Windows Default" \
    "Left noise function=Pink Noise" "Left crest factor=6:1" "Left filter type=None" \
    "Left modulation function=Sine" ||
    fail "the lists are not read by their current items"
window_command "$pid" 0x418 0 1  # recall slot 1
echo "after slot 1 is recalled:"
"$PYTHON" "$READ_LISTS" "Channel mode=Stereo" \
    "Left noise function=Pink Noise" "Left crest factor=3:1" "Left filter type=Peaking" \
    "Left modulation function=Triangular" \
    "Right noise function=White Noise" "Right crest factor=10:1" "Right filter type=Low Pass" \
    "Right modulation function=Square" ||
    fail "the lists are not read by the items the preset chose"
xdotool windowfocus --sync "$(xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' | head -n 1)"
xdotool key ctrl+c  # Tools > Output Settings
timeout 10 xdotool search --sync --all --pid "$pid" --onlyvisible --name '^Output Settings' >/dev/null ||
    fail "Ctrl+C showed no Output Settings window"
echo "in the output settings:"
"$PYTHON" "$READ_LISTS" "Sampling frequency=11025" "Sample size in bits=16" \
    "Buffer size=16384" "Number of buffers=4" ||
    fail "the output settings' lists are not read by their current items"
INNER

xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$work/inner.sh" ||
    fail "see above; the program said: $(tail -n 5 "$work/skarnel.log" 2>/dev/null)"
echo "screen_reader_lists_test: PASS"
