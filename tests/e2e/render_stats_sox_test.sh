#!/usr/bin/env bash
# skarnel-render's figures against sox's: for white and pink renders, mono and
# stereo, the RMS and peak levels that --stats-json writes agree with
# `sox FILE -n stats` ("RMS lev dB", "Pk lev dB", per channel) to 0.01 dB.
# Both read full scale as 32768, so a full-scale square reads 0 dB in each;
# that is checked on sox first, since the comparison rests on it.
#
# Usage: render_stats_sox_test.sh SKARNEL_RENDER
set -euo pipefail

fail() { echo "render_stats_sox_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL_RENDER"
render=$(realpath "$1")
for tool in sox python3; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing; this test needs sox and python3"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One figure per channel from sox's stats: the columns after the label (with
# two channels the first column is "Overall", which is skipped).
sox_figures() {  # FILE LABEL
    local line
    line=$(sox "$1" -n stats 2>&1 | grep -E "^$2 ") || fail "sox printed no '$2' for $1"
    # shellcheck disable=SC2086
    set -- ${line#"$2"}
    if [[ $# -gt 1 ]]; then shift; fi
    echo "$@"
}

# A full-scale square (undithered): sox must read 0.00 dB RMS and peak.
sox -D -n -r 48000 -b 16 -c 1 "$work/square.wav" synth 1 square 100 2>/dev/null
for label in "RMS lev dB" "Pk lev dB"; do
    value=$(sox_figures "$work/square.wav" "$label")
    [[ "$value" == "0.00" || "$value" == "-0.00" ]] ||
        fail "sox reads a full-scale square at $value for $label, not 0.00"
done

checked=0
for case in "white mono" "pink mono" "white stereo" "pink stereo"; do
    read -r noise mode <<<"$case"
    wav="$work/$noise-$mode.wav"
    json="$work/$noise-$mode.json"
    "$render" -r 48000 -d 10 -c "$mode" --left-noise "$noise" --right-noise "$noise" \
        --left-crest 4:1 --right-crest 8:1 --left-amplitude -3 --right-amplitude -12.5 \
        --stats-json "$json" "$wav" || fail "$case: skarnel-render failed"
    rms=$(sox_figures "$wav" "RMS lev dB")
    peak=$(sox_figures "$wav" "Pk lev dB")
    python3 - "$json" "$rms" "$peak" "$case" <<'PY' || fail "$case: figures differ from sox's"
import json, sys
figures = json.load(open(sys.argv[1]))["channels"]
rms, peak, case = sys.argv[2].split(), sys.argv[3].split(), sys.argv[4]
expected = 2 if "stereo" in case else 1
if len(figures) != expected or len(rms) != expected or len(peak) != expected:
    sys.exit(f"{case}: {len(figures)} channels in the JSON, sox {len(rms)}; expected {expected}")
bad = False
for c, f in enumerate(figures):
    for name, ours, theirs in (("RMS", f["rms_dbfs"], rms[c]), ("peak", f["peak_dbfs"], peak[c])):
        ok = abs(ours - float(theirs)) <= 0.01
        print(f"{case} channel {c}: {name} {ours:.4f} dBFS, sox {theirs}{'' if ok else '  <-- differs'}")
        bad = bad or not ok
sys.exit(1 if bad else 0)
PY
    checked=$((checked + 1))
done
echo "render_stats_sox_test: $checked renders agree with sox"
