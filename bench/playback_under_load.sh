#!/usr/bin/env bash
# How often 10 s of playback on a private sound server arrive whole while
# two busy loops (nice 0) keep both cores busy: N runs of the end-to-end
# playback test under load, each recording compared with skarnel-render's
# output. Prints each run, then how many were bit-exact and the milliseconds
# of signal lost in the others.
#
# Usage: bench/playback_under_load.sh N [build-dir] [pulseaudio|pipewire]
# Environment: SKARNEL_AUDIO is passed on (unset: the program's own choice).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runs=${1:?usage: $0 N [build-dir]}
build=$(realpath "${2:-$here/../build}")
server=${3:-pulseaudio}
test=$here/../tests/e2e/server_playback_test.sh
for exe in src/skarnel tools/skarnel-render tools/skarnel-capture-compare; do
    [[ -x $build/$exe ]] || { echo "playback_under_load.sh: $build/$exe is missing; build first" >&2; exit 2; }
done

whole=0 lost_list=() failed=0
for ((i = 1; i <= runs; i++)); do
    out=$("$test" "$server" load "$build/src/skarnel" "$build/tools/skarnel-render" \
        "$build/tools/skarnel-capture-compare" 2>&1)
    status=$?
    line=$(grep -m1 '^result: ' <<<"$out")
    if [[ -z $line ]]; then
        ((failed++))
        echo "run $i: no comparison (exit $status): $(grep -m1 'FAIL\|SKIP' <<<"$out")"
        continue
    fi
    read -r lost inserted breaks rate < <(sed -n \
        's/.* lost=\([0-9]*\) inserted=\([0-9]*\) breaks=\([0-9]*\) rate=\([0-9]*\).*/\1 \2 \3 \4/p' <<<"$line")
    if [[ $line == "result: bit-exact"* ]]; then
        ((whole++))
        echo "run $i: whole"
    else
        ms=$(awk -v f="$lost" -v r="$rate" 'BEGIN { printf "%.1f", 1000 * f / r }')
        lost_list+=("$ms")
        echo "run $i: lost $ms ms in $breaks break(s) ($lost frames; $inserted frames in their place)"
        grep '^break at' <<<"$out" | sed 's/^/    /'
    fi
done
backend=${SKARNEL_AUDIO:-"the program's choice"}
echo "back-end: $backend"
echo "whole: $whole of $runs runs bit-exact"
((${#lost_list[@]} == 0)) || echo "lost ms of the others: ${lost_list[*]}"
((failed == 0)) || echo "runs without a comparison: $failed"
