# The steps of stream_identity_test.sh, run inside its private display and
# session bus (sourced after sound_servers.sh and window_bus.sh).
trap sound_cleanup EXIT
if [[ $server == pulseaudio ]]; then
    start_pulseaudio || exit 1
    # What a desktop's PulseAudio loads: it remembers streams' sinks and volumes.
    pactl load-module module-stream-restore >/dev/null
else
    start_pipewire
fi
pactl load-module module-null-sink sink_name=t rate=48000 channels=2 >/dev/null
pids=()
for n in 1 2; do
    "$SKARNEL_BIN" >"$SOUND_LOGS/skarnel$n.log" 2>&1 &
    pids+=($!)
    _sound_started $!
    # One after the other: each window takes its number from those running.
    window_wait_ready "${pids[-1]}" || exit 1
done

# Generator 1, as a user would in the mixer: another sink, half the level.
window_command "${pids[0]}" "$WINDOW_START" || { echo "ON in Generator 1 failed" >&2; exit 1; }
window_wait_running "${pids[0]}" true 50 || exit 1
input=
for ((i = 0; i < 30; i++)); do
    input=$(pactl list short sink-inputs | awk 'NR == 1 { print $1 }')
    [[ -n $input ]] && break
    sleep 0.1
done
[[ -n $input ]] || { echo "Generator 1's stream did not appear" >&2; exit 1; }
pactl move-sink-input "$input" t
pactl set-sink-input-volume "$input" 50%
sleep 1.5  # WirePlumber keeps what it saw after a second
window_command "${pids[0]}" "$WINDOW_STOP"
window_wait_running "${pids[0]}" false 50 || exit 1

# Generator 2 plays its period where its list says.
sound_record_start "$SOUND_LOGS/recording" parec || exit 1
window_command "${pids[1]}" "$WINDOW_START" || { echo "ON in Generator 2 failed" >&2; exit 1; }
window_wait_running "${pids[1]}" true 50 || exit 1
sleep 0.5
pactl list sink-inputs >"$SOUND_LOGS/second-stream.txt"
window_wait_running "${pids[1]}" false 150 || exit 1
sleep 1  # what the server still holds reaches the monitor
sound_record_stop
