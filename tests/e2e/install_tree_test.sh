#!/usr/bin/env bash
# The installed tree: "cmake --install" into a staging folder (DESTDIR), then
# the program started through its link in bin under Xvfb must come up and read
# the example presets from its own folder beside the real executable.
#
# Usage: install_tree_test.sh BUILD_DIR
set -euo pipefail

fail() { echo "install_tree_test: FAIL: $*" >&2; exit 1; }

[[ $# -eq 1 ]] || fail "usage: $0 BUILD_DIR"
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
for tool in cmake xvfb-run xdotool dbus-run-session strace sqlite3; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing"
done

source "$here/lib/staged_install.sh"
stage_install "$build"
for file in usr/bin/skarnel usr/lib/skarnel/skarnel usr/lib/skarnel/Examples.wbq \
    "usr/lib/skarnel/Compatibility Test.vlm" usr/share/applications/org.orvane.Skarnel.desktop \
    usr/share/icons/hicolor/256x256/apps/skarnel.png; do
    [[ -e $stage/$file ]] || fail "the installed tree lacks $file"
done
[[ -L $stage/usr/bin/skarnel ]] || fail "usr/bin/skarnel is not a link"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$stage/usr/share/applications/org.orvane.Skarnel.desktop" ||
        fail "the menu entry is not valid"
fi

export HOME=$work/home XDG_RUNTIME_DIR=$work/run SKARNEL_AUDIO=simulated
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CONFIG_HOME SKARNEL_STORE QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
source "$here/lib/store.sh"
seed_store

program=$stage/usr/bin/skarnel
# LeakSanitizer cannot run under ptrace; leaks are the other tests' business.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
drive() {
    set -euo pipefail
    strace -f -qq -e trace=openat -o "$work/trace" "$program" /nosplash >"$work/skarnel.log" 2>&1 &
    local pid=$! wid i
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Skarnel$') ||
        { kill "$pid"; echo "no Skarnel window appeared within 20 s" >&2; return 1; }
    xdotool windowfocus --sync "${wid%%$'\n'*}" key ctrl+x
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid"; return; }
        sleep 0.1
    done
    kill "$pid"
    echo "Ctrl+X did not end the program within 10 s" >&2
    return 1
}
{ declare -p program work; declare -f drive; echo drive; } >"$work/drive.sh"
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/drive.sh" ||
    fail "the installed program did not run; its output:
$(cat "$work/skarnel.log")"

examples="$stage/usr/lib/skarnel/Examples.wbq"
grep -F "\"$examples\"" "$work/trace" | grep -qv ENOENT ||
    fail "the program did not open $examples; it tried:
$(grep -F Examples.wbq "$work/trace" || echo nothing)"
echo "install_tree_test: PASS"
