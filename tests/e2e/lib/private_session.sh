# private_session SKARNEL: a private home, runtime folder and settings store
# for one run of the program on the simulated device, removed on exit.
# Sets and exports work, WORK, HOME, XDG_RUNTIME_DIR, SKARNEL_STORE,
# SKARNEL_AUDIO, SKARNEL_BIN and STORE_LIB (lib/store.sh, for the inner
# script run under xvfb-run), and unsets what would reach the user's own
# session.
private_session() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    export HOME=$work/home XDG_RUNTIME_DIR=$work/run SKARNEL_STORE=$work/settings.db
    export SKARNEL_AUDIO=simulated SKARNEL_BIN=$1 WORK=$work
    STORE_LIB=$(realpath "$(dirname "${BASH_SOURCE[0]}")/store.sh")
    export STORE_LIB
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset XDG_CONFIG_HOME QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
}

# window_session SKARNEL: private_session for a test that drives generator
# windows under Xvfb on a private bus: checks for the tools every such test
# needs and exports WINDOW_BUS_LIB (lib/window_bus.sh) for the inner script.
window_session() {
    local tool
    for tool in xvfb-run xdotool dbus-run-session gdbus sqlite3; do
        command -v "$tool" >/dev/null || {
            echo "'$tool' is missing; this test needs the packages xvfb, xdotool, dbus, libglib2.0-bin, sqlite3" >&2
            exit 1
        }
    done
    private_session "$1"
    WINDOW_BUS_LIB=$(realpath "$(dirname "${BASH_SOURCE[0]}")/window_bus.sh")
    export WINDOW_BUS_LIB
}
