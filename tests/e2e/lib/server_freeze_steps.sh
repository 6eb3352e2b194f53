# The steps of server_freeze_test.sh, run inside its private display and
# session bus (sourced after sound_servers.sh and window_bus.sh).
fail() { echo "server_freeze_test: FAIL: $*" >&2; exit 1; }
server=
thaw() { [[ -n $server ]] && kill -CONT "$server" 2>/dev/null || true; }
trap 'thaw; sound_cleanup' EXIT
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
# Return on every message box of the program (titled "Skarnel" like the window).
answer_boxes() {
    local i shown
    for ((i = 0; i < 10; i++)); do
        shown=$( (xdotool search --all --pid "$pid" --onlyvisible --name '^Skarnel$' 2>/dev/null || true) | wc -l)
        ((shown > 1)) || return 0
        xdotool key Return
        sleep 0.2
    done
}
play() {
    window_command "$pid" "$WINDOW_START" || fail "ON failed"
    window_wait_running "$pid" true 50 || fail "the window did not start playing"
}

start_pulseaudio || exit 1
server=${SOUND_SERVER_PIDS[0]}
log=$SOUND_LOGS/skarnel.log
"$SKARNEL_BIN" >"$log" 2>&1 &
pid=$!
_sound_started "$pid"
window_wait_ready "$pid" || fail "the window did not start"

play
sleep 1
kill -STOP "$server"
frozen=$(date +%s%N)
stopped=
for ((i = 0; i < 80; i++)); do
    if [[ $(window_running "$pid") == false ]]; then
        stopped=$(ms_since "$frozen")
        break
    fi
    sleep 0.05
done
[[ -n $stopped ]] || fail "4 s after the server stopped the window still plays"
((stopped <= 3000)) || fail "the window stopped only $stopped ms after the server"
grep -q "playback ended by the device: The sound server does not answer" "$log" ||
    fail "the window gave no reason: $(tail -n 3 "$log")"
echo "stopped $stopped ms after the server stopped answering"
answer_boxes

kill -CONT "$server"
sleep 1
play
sleep 2.5
[[ $(window_running "$pid") == true ]] || fail "after the server answered again, playing ended: $(tail -n 3 "$log")"
echo "plays again once the server answers"

# OFF against a stopped server.
kill -STOP "$server"
sleep 0.3
asked=$(date +%s%N)
window_command "$pid" "$WINDOW_STOP" || fail "OFF failed"
took=$(ms_since "$asked")
[[ $(window_running "$pid") == false ]] || fail "OFF did not stop the window"
((took <= 1000)) || fail "OFF took $took ms against a stopped server"
echo "OFF against a stopped server took $took ms"
kill -CONT "$server"

# ON against a stopped server: refused within the same 2 s, with the reason,
# and ON plays once the server answers again.
kill -STOP "$server"
sleep 0.3
asked=$(date +%s%N)
window_command "$pid" "$WINDOW_START" || fail "ON failed"
took=$(ms_since "$asked")
((took <= 3000)) || fail "ON took $took ms against a stopped server"
[[ $(window_running "$pid") == false ]] || fail "ON against a stopped server shows the window playing"
grep -q "The sound server does not answer" <(tail -n 5 "$log") ||
    fail "ON against a stopped server gave no reason: $(tail -n 3 "$log")"
echo "ON against a stopped server was refused after $took ms"
answer_boxes
kill -CONT "$server"
sleep 1
play
