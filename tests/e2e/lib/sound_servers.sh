# Shared by the end-to-end tests: private sound servers with a null sink "s"
# at 48000 Hz, a recorder on its monitor, busy loops for load, and the
# bit-for-bit comparison of a recording with skarnel-render's output.
#
# Everything started here is a child of the test: sound_cleanup ends it all
# (call it from the test's EXIT trap). The servers live in the test's own
# XDG_RUNTIME_DIR and HOME (sound_private_home), so they never meet a
# desktop's servers and clients never reach another one.

readonly SOUND_SKIP=77  # ctest's SKIP_RETURN_CODE for these tests
SOUND_LOGS=${SOUND_LOGS:-${TMPDIR:-/tmp}}
_sound_pids=()
SOUND_SERVER_PIDS=()
SOUND_RECORDER_PID=

# sound_skip MESSAGE: the test cannot run here; says why and exits with the
# code ctest reports as skipped.
sound_skip() {
    echo "SKIP: $*" >&2
    exit "$SOUND_SKIP"
}

# sound_private_home DIR: HOME, XDG_RUNTIME_DIR and the server logs under DIR.
# Clients must not start a server of their own when the test's one is gone.
sound_private_home() {
    export HOME=$1/home XDG_RUNTIME_DIR=$1/run
    SOUND_LOGS=$1
    mkdir -p "$HOME/.config/pulse" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    echo "autospawn = no" >"$HOME/.config/pulse/client.conf"
    unset PULSE_SERVER PULSE_SINK PULSE_RUNTIME_PATH PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
}

_sound_started() { _sound_pids+=("$1"); }

# Ends whatever this library started, recorder first, then in reverse order.
sound_cleanup() {
    local i
    sound_record_stop 2>/dev/null || true
    for ((i = ${#_sound_pids[@]} - 1; i >= 0; i--)); do
        kill "${_sound_pids[i]}" 2>/dev/null || true
    done
    for i in "${_sound_pids[@]}"; do
        wait "$i" 2>/dev/null || true
    done
    _sound_pids=() SOUND_SERVER_PIDS=()
}

# sound_sink_ready TENTHS: waits until a server answers and has the sink "s"
# at 48000 Hz.
sound_sink_ready() {
    local i
    for ((i = 0; i < $1; i++)); do
        if pactl list short sinks 2>/dev/null | awk '$2 == "s" && / 48000Hz/ { f = 1 } END { exit !f }'; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# start_pulseaudio: a PulseAudio server with only the native protocol and the
# null sink; returns when the sink is there. Fails (with the server's log)
# when it does not start within 10 s. The sink never rewinds: a rewind when a
# stream starts re-renders what the monitor has already passed on, and the
# stream's first milliseconds (130 to 900 frames, even from paplay) would be
# missing from the recording.
start_pulseaudio() {
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
        -L module-native-protocol-unix -L "module-null-sink sink_name=s rate=48000 norewinds=1" \
        >>"$SOUND_LOGS/pulseaudio.log" 2>&1 &
    _sound_started $!
    SOUND_SERVER_PIDS=($!)
    sound_sink_ready 100 && return 0
    echo "PulseAudio did not start within 10 s; its log:" >&2
    tail -n 20 "$SOUND_LOGS/pulseaudio.log" >&2
    return 1
}

# kill_sound_server: ends the running server at once (SIGKILL), as a crash
# would, and waits until it is gone.
kill_sound_server() {
    local p
    for p in "${SOUND_SERVER_PIDS[@]}"; do
        kill -KILL "$p" 2>/dev/null || true
    done
    for p in "${SOUND_SERVER_PIDS[@]}"; do
        wait "$p" 2>/dev/null || true
    done
    SOUND_SERVER_PIDS=()
}

# start_pipewire: PipeWire, WirePlumber and pipewire-pulse, then a null sink
# loaded through the PulseAudio protocol. Where PipeWire cannot run (some
# containers lack what it needs), the test is skipped with the reason.
start_pipewire() {
    local i
    for tool in pipewire wireplumber pipewire-pulse; do
        command -v "$tool" >/dev/null || sound_skip "'$tool' is not installed"
    done
    pipewire >>"$SOUND_LOGS/pipewire.log" 2>&1 &
    _sound_started $!
    SOUND_SERVER_PIDS=($!)
    for ((i = 0; i < 100; i++)); do
        [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break
        kill -0 "${SOUND_SERVER_PIDS[0]}" 2>/dev/null || break
        sleep 0.1
    done
    [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] ||
        sound_skip "PipeWire did not start in this container; its log:
$(tail -n 20 "$SOUND_LOGS/pipewire.log")"
    wireplumber >>"$SOUND_LOGS/wireplumber.log" 2>&1 &
    _sound_started $!
    SOUND_SERVER_PIDS+=($!)
    pipewire-pulse >>"$SOUND_LOGS/pipewire-pulse.log" 2>&1 &
    _sound_started $!
    SOUND_SERVER_PIDS+=($!)
    for ((i = 0; i < 100; i++)); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 ||
        sound_skip "pipewire-pulse did not answer within 10 s; its log:
$(tail -n 20 "$SOUND_LOGS/pipewire-pulse.log")"
    pactl load-module module-null-sink sink_name=s rate=48000 channels=2 >/dev/null ||
        sound_skip "PipeWire refused a null sink"
    sound_sink_ready 100 || sound_skip "PipeWire's null sink did not appear within 10 s"
    # With more than one sink the session manager might pick another default.
    pactl set-default-sink s
}

# sound_record_start FILE [parec|pw-record]: records the monitor of "s" as
# 16-bit stereo at 48000 Hz (raw with parec, a WAV file with pw-record) and
# returns once samples arrive, so nothing played afterwards is missed.
sound_record_start() {
    local file=$1 tool=${2:-parec} i
    : >"$file"
    case $tool in
        parec)
            parec -d s.monitor --raw --format=s16le --rate=48000 --channels=2 --latency-msec=20 \
                >"$file" 2>>"$SOUND_LOGS/recorder.log" &
            ;;
        pw-record)
            pw-record --target s -P '{ stream.capture.sink=true }' --format s16 --rate 48000 \
                --channels 2 "$file" 2>>"$SOUND_LOGS/recorder.log" &
            ;;
        *)
            echo "sound_record_start: unknown recorder '$tool'" >&2
            return 1
            ;;
    esac
    SOUND_RECORDER_PID=$!
    for ((i = 0; i < 100; i++)); do
        (($(stat -c %s "$file") > 9600)) && return 0
        kill -0 "$SOUND_RECORDER_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "the recorder ($tool) took no samples within 10 s; its log:" >&2
    tail -n 20 "$SOUND_LOGS/recorder.log" >&2
    return 1
}

# sound_record_stop: ends the recording (the recorder flushes what it has).
sound_record_stop() {
    [[ -n $SOUND_RECORDER_PID ]] || return 0
    kill -INT "$SOUND_RECORDER_PID" 2>/dev/null || true
    wait "$SOUND_RECORDER_PID" 2>/dev/null || true
    SOUND_RECORDER_PID=
}

# sound_load_start N: N busy loops at nice 0, one per core on a machine of N
# cores, as a build or a browser would keep it busy.
sound_load_start() {
    local i
    for ((i = 0; i < $1; i++)); do
        nice -n 0 sh -c 'while :; do :; done' &
        _sound_started $!
    done
}

# sound_render FILE SECONDS: skarnel-render's WAV of the settings the sound
# tests play: 48000 Hz stereo, left pink 6:1, right white 4:1, 0 dBFS.
# Needs SKARNEL_RENDER.
sound_render() {
    "$SKARNEL_RENDER" --rate 48000 --duration "$2" --channels stereo \
        --left-noise pink --left-crest 6:1 --right-noise white --right-crest 4:1 "$1"
}

# The window's stored values for the same settings; further NAME=VALUE
# arguments as window_values takes them (store.sh).
sound_window_values() {
    window_values mono=0 WaveFormRight=0 PeakRmsR=3 "$@"
}

# sound_compare RECORDING RENDER.wav [skarnel-capture-compare options]:
# prints where the recording leaves the render, if anywhere; succeeds when
# every frame matches. Needs SKARNEL_CAPTURE_COMPARE.
sound_compare() {
    "$SKARNEL_CAPTURE_COMPARE" "$@"
}
