# Shared by the end-to-end tests: drives running generator windows over the
# D-Bus session bus. Each instance owns org.orvane.Skarnel.Generator.pid<PID>;
# Command(u number, i first, i second) runs a window command, State() returns
# (running, paused, sync).

readonly WINDOW_BUS_PREFIX=org.orvane.Skarnel.Generator.pid
readonly WINDOW_START=0x400 WINDOW_STOP=0x401

# The PIDs of the generator windows on the bus, sorted.
window_pids() {
    timeout 10 gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.ListNames |
        grep -o "${WINDOW_BUS_PREFIX//./\\.}[0-9]*" | sed "s/.*pid//" | sort -n
}

# window_wait_on_bus PID [SECONDS]: waits until the instance has its name.
window_wait_on_bus() {
    local pid=$1 i
    for ((i = 0; i < ${2:-20} * 10; i++)); do
        window_pids | grep -qx "$pid" && return 0
        kill -0 "$pid" 2>/dev/null || { echo "instance $pid ended before it reached the bus" >&2; return 1; }
        sleep 0.1
    done
    echo "instance $pid did not reach the bus within ${2:-20} s" >&2
    return 1
}

# window_state PID: prints "running paused sync" as true/false words.
window_state() {
    timeout 15 gdbus call --session --timeout 10 --dest "$WINDOW_BUS_PREFIX$1" --object-path /Generator \
        --method org.orvane.Skarnel.Generator.State | tr -d '(),'
}

# window_command PID NUMBER [FIRST SECOND]
window_command() {
    timeout 25 gdbus call --session --timeout 20 --dest "$WINDOW_BUS_PREFIX$1" --object-path /Generator \
        --method org.orvane.Skarnel.Generator.Command $(($2)) $((${3:-0})) $((${4:-0})) >/dev/null
}

# window_running PID: prints true or false.
window_running() {
    local s
    s=$(window_state "$1") || return 1
    echo "${s%% *}"
}

# window_wait_running PID true|false TENTHS: waits until the window reports
# that running state; fails when it does not within TENTHS tenths of a second
# or stops answering.
window_wait_running() {
    local pid=$1 want=$2 i now
    for ((i = 0; i < $3; i++)); do
        now=$(window_running "$pid") || { echo "instance $pid does not answer State()" >&2; return 1; }
        [[ $now == "$want" ]] && return 0
        sleep 0.1
    done
    echo "instance $pid: running stayed '$now' for $(($3 / 10)).$(($3 % 10)) s, expected '$want'" >&2
    return 1
}

# window_wait_ready PID [SECONDS]: waits until the instance is on the bus and
# its main window is shown: the start-up (splash, stored settings) is over and
# commands act on the window's real settings. Needs xdotool.
window_wait_ready() {
    local pid=$1 limit=${2:-30}
    window_wait_on_bus "$pid" "$limit" || return 1
    timeout "$limit" xdotool search --sync --all --pid "$pid" --onlyvisible --name '^Skarnel$' >/dev/null || {
        echo "instance $pid showed no Skarnel window within $limit s" >&2
        return 1
    }
}
