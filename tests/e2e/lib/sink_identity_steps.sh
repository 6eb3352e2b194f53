# The steps of sink_identity_test.sh, run inside its private display and
# session bus (sourced after sound_servers.sh, window_bus.sh and store.sh).
trap sound_cleanup EXIT
fail() { echo "sink_identity_test: FAIL: $*" >&2; exit 1; }
analog="Family 17h/19h HD Audio Controller Analog Stereo"
digital="Family 17h/19h HD Audio Controller Digital Stereo"

# load_sink NAME DESCRIPTION: a null sink; prints the module's number.
load_sink() {
    pactl load-module module-null-sink sink_name="$1" rate=48000 \
        "sink_properties=\"device.description='$2'\""
}
# start_window: the program, with its window shown; sets pid.
start_window() {
    "$SKARNEL_BIN" >>"$SOUND_LOGS/skarnel.log" 2>&1 &
    pid=$!
    _sound_started "$pid"
    window_wait_ready "$pid" || fail "the window did not start"
}
# close_window: Ctrl+X, as a user closes it, so it stores its settings.
close_window() {
    local win i
    win=$(xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' | head -n 1)
    xdotool windowfocus --sync "$win" key ctrl+x
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    fail "Ctrl+X did not close the window"
}
stored() { sqlite3 "$(store_path)" "SELECT text_value FROM key_values WHERE name = '$1'"; }
# peaks_while_playing: plays for a moment and prints the peak sample of each
# sink's monitor, "a b".
peaks_while_playing() {
    local ra rb
    parec -d a.monitor --raw --format=s16le --rate=48000 --channels=2 >"$SOUND_LOGS/a.raw" &
    ra=$!
    parec -d b.monitor --raw --format=s16le --rate=48000 --channels=2 >"$SOUND_LOGS/b.raw" &
    rb=$!
    sleep 0.5
    window_command "$pid" "$WINDOW_START" || fail "ON failed"
    window_wait_running "$pid" true 50 || fail "the window did not start playing"
    sleep 1.5
    window_command "$pid" "$WINDOW_STOP" || true
    kill -INT "$ra" "$rb"
    wait "$ra" "$rb" 2>/dev/null || true
    python3 -c '
import array, sys
peaks = []
for name in sys.argv[1:]:
    data = open(name, "rb").read()
    samples = array.array("h", data[: len(data) // 2 * 2])
    peaks.append(str(max((abs(s) for s in samples), default=0)))
print(" ".join(peaks))' "$SOUND_LOGS/a.raw" "$SOUND_LOGS/b.raw"
}

start_pulseaudio || exit 1
load_sink a "$analog" >/dev/null
module_b=$(load_sink b "$digital")

# Chosen: the second look-alike (the list holds s, a and b after the default).
start_window
window_command "$pid" 0x417 2
close_window
[[ $(stored WaveDeviceId) == b ]] || fail "the store names '$(stored WaveDeviceId)', not the sink b"

start_window
read -r peak_a peak_b < <(peaks_while_playing)
echo "after a restart: peak on a $peak_a, on b $peak_b"
((peak_b > 1000 && peak_a == 0)) || fail "the restarted window did not play on the chosen sink b"

# The sink goes and comes back while the window is open: the next ON plays
# on it again.
pactl unload-module "$module_b"
sleep 2
module_b=$(load_sink b "$digital")
sleep 1
read -r peak_a peak_b < <(peaks_while_playing)
echo "after the sink came back: peak on a $peak_a, on b $peak_b"
((peak_b > 1000 && peak_a == 0)) || fail "the window did not play on the sink that came back"
close_window
[[ $(stored WaveDeviceId) == b ]] || fail "after the sink came back the store names '$(stored WaveDeviceId)'"

# A start while no server answers: the note that there is no device, then
# the window; the chosen sink stays in the store.
kill_sound_server
"$SKARNEL_BIN" >>"$SOUND_LOGS/skarnel.log" 2>&1 &
pid=$!
_sound_started "$pid"
# The note that no device is there may come before the window or over it;
# both are titled "Skarnel". Return until the window alone is left.
alone=0
for ((i = 0; i < 150 && alone < 5; i++)); do
    kill -0 "$pid" 2>/dev/null || fail "the program ended without a server"
    shown=$( (xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' 2>/dev/null || true) | wc -l)
    if ((shown > 1)) || { ((shown == 1)) && ! window_pids | grep -qx "$pid"; }; then
        xdotool key Return
        alone=0
    elif ((shown == 1)); then
        alone=$((alone + 1))
    fi
    sleep 0.2
done
((alone >= 5)) || fail "without a server the window did not show on its own"

close_window
[[ $(stored WaveDeviceId) == b ]] || fail "a start without a server left '$(stored WaveDeviceId)' in the store"
[[ $(stored WaveDeviceName) == "Family 17h/19h HD Audio Controll" ]] ||
    fail "a start without a server left WaveDeviceName '$(stored WaveDeviceName)'"
echo "without a server: the store still names b"
