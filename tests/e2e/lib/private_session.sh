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
