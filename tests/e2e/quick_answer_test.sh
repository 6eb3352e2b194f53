#!/usr/bin/env bash
# End to end: "skarnel --version" and "skarnel --help" answer on standard
# output and end at once, on a machine with no display, no session bus and a
# home that cannot be written: the answer must come before the program
# reaches for any of them. Arguments that merely look like these options are
# left to the usual start-up, which fails here for want of a display.
#
# Usage: quick_answer_test.sh SKARNEL VERSION
set -euo pipefail

fail() { echo "quick_answer_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL VERSION"
skarnel=$(realpath "$1")
version=$2
command -v strace >/dev/null || fail "'strace' is missing"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# /dev/null is no folder, so not even root can create anything under this home.
hostile=(env -i PATH=/usr/bin:/bin HOME=/dev/null/home
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
    SKARNEL_STORE="$work/store/settings.db" SKARNEL_AUDIO=pulse
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0")
[[ -n ${UBSAN_OPTIONS:-} ]] && hostile+=(UBSAN_OPTIONS="$UBSAN_OPTIONS")

# An answer takes a few milliseconds; a program that went on to start a window
# would never end by itself. The limit leaves room for a sanitizer build on a
# loaded machine.
limit=5
# ask ARGUMENT: runs the program with that limit; sets status, out, err.
ask() {
    status=0
    # (The braces keep bash's own note of a crashed child out of the log.)
    { timeout "$limit" "${hostile[@]}" "$skarnel" "$1" >"$work/out" 2>"$work/err"; } 2>/dev/null ||
        status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

ask --version
[[ $status -eq 0 ]] || fail "--version ended with $status (124: still running after $limit s): $err"
[[ $out == "skarnel $version" ]] || fail "--version printed '$out', not 'skarnel $version'"
[[ -z $err ]] || fail "--version wrote to standard error: $err"

ask --help
[[ $status -eq 0 ]] || fail "--help ended with $status (124: still running after $limit s): $err"
[[ -z $err ]] || fail "--help wrote to standard error: $err"
for form in --version --help /nosplash .wbs .wbq "skarnel(1)"; do
    grep -qF -- "$form" <<<"$out" || fail "--help does not mention '$form':
$out"
done

# An answer that cannot be written is a failure, not a silent success.
status=0
"${hostile[@]}" "$skarnel" --version >/dev/full 2>/dev/null || status=$?
[[ $status -ne 0 ]] || fail "--version into a full device still ended with 0"

# What the program touches while answering: no socket at all (display, bus,
# sound server) and not the settings store.
traced() {
    { strace -f -qq -e trace=%network,%file -o "$work/trace" "${hostile[@]}" "$skarnel" "$1" \
        >/dev/null 2>&1; } 2>/dev/null || true
}
for argument in --version --help; do
    traced "$argument"
    if grep -E '(^|[[:space:]])(connect|socket)\(' "$work/trace" >"$work/reached"; then
        fail "$argument opened a connection:
$(cat "$work/reached")"
    fi
    if grep -F "$work/store" "$work/trace" >"$work/reached"; then
        fail "$argument reached for the settings store:
$(cat "$work/reached")"
    fi
done

# Only the exact words answer; everything else starts the program as before,
# which here reaches for the sound server and fails for want of a display.
for argument in --Version -v --version=1 "--help " /--help; do
    ask "$argument"
    [[ $status -ne 0 ]] || fail "'$argument' ended with 0 as if answered: $out"
    grep -qE "^skarnel $version\$|^Usage:" <<<"$out" && fail "'$argument' was answered: $out"
    traced "$argument"
    grep -qE '(^|[[:space:]])connect\(' "$work/trace" ||
        fail "'$argument' did not start the program (it connected to nothing)"
done
echo "quick_answer_test: PASS"
