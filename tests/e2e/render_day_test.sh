#!/usr/bin/env bash
# A burn-in file: 24 hours of stereo noise at 48 kHz (16.6 GB, four times
# what a WAV can hold) rendered to a 64-bit container, read back by soxi (sox)
# and sndfile-info (libsndfile) at exactly 4,147,200,000 frames. The signal
# must not change its character over the day: the last two minutes' pink
# third-octave levels (left) and modulated white level (right, 1 Hz square at
# full depth) equal the first two minutes' within the scatter of noise (the
# narrowest band's level scatters by about 0.1 dB). Past 2^31 frames (12.4 h)
# a narrower frame counter would freeze the pink row schedule (two rows redrawn
# at every frame, eleven constant) and hold the modulation gain at one value.
# The file goes to a temporary folder beside the build (the same disk as the
# work, not a small /tmp) and is deleted at the end, failed or not.
#
# Usage: render_day_test.sh SKARNEL_RENDER TYPE   (TYPE: w64 or rf64)
# Runs where CI=true or SKARNEL_LONG_TESTS=1; elsewhere, and when the disk
# lacks room for the file, it exits 77 (skipped).
set -euo pipefail

fail() { echo "render_day_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 2 ]] || fail "usage: $0 SKARNEL_RENDER w64|rf64"
render=$(realpath "$1")
type=$2
for tool in soxi sndfile-info; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing (packages sox, sndfile-programs)"
done

if [[ "${CI:-}" != true && "${SKARNEL_LONG_TESTS:-}" != 1 ]]; then
    echo "render_day_test: skipped: set SKARNEL_LONG_TESTS=1 to render 16.6 GB for a few minutes"
    exit 77
fi

frames=4147200000
bytes=$((frames * 4))
work=$(mktemp -d "$(dirname "$render")/render-day.XXXXXX")
trap 'rm -rf "$work"' EXIT
free=$(($(stat -f -c '%a * %S' "$work")))
if ((free < bytes + bytes / 10)); then
    echo "render_day_test: skipped: $((free >> 30)) GiB free, the file needs $((bytes >> 30)) GiB"
    exit 77
fi

file="$work/day.$type"
start=$(date +%s%N)
"$render" -q -r 48000 -c stereo -d 24:00:00 --left-noise pink --right-noise white \
    --right-crest 1.42:1 --right-mod --right-mod-function square --right-mod-period 1 \
    -t "$type" "$file" || fail "skarnel-render failed"
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
seconds="$((elapsed_ms / 1000)).$(printf '%03d' $((elapsed_ms % 1000)))"
size=$(stat -c %s "$file")
echo "render_day_test: rendered $size bytes ($type) in ${seconds} s"
((size > bytes)) || fail "the file holds $size bytes, less than the $bytes bytes of samples"

soxi_frames=$(soxi -s "$file")
[[ "$soxi_frames" == "$frames" ]] || fail "soxi reads $soxi_frames frames, not $frames"
info_frames=$(sndfile-info "$file" | sed -n 's/^Frames *: *//p')
[[ "$info_frames" == "$frames" ]] || fail "sndfile-info reads '$info_frames' frames, not $frames"
echo "render_day_test: soxi and sndfile-info read $frames frames"

# The first and the last two minutes, copied out once (reaching the end reads
# through the whole file).
sox "$file" "$work/first.wav" trim 0 120
sox "$file" "$work/last.wav" trim $((86400 - 120)) 120
rm -f "$file"

# RMS level in dB of one channel of a segment, through an optional band
# filter (sox's sinc: LOW-HIGH in Hz).
level() { # SEGMENT CHANNEL [BAND]
    local effect=()
    [[ $# -eq 3 ]] && effect=(sinc "$3")
    sox "$work/$1.wav" -n remix "$2" "${effect[@]}" stats 2>&1 | awk '/^RMS lev dB/ { print $4 }'
}
# Two levels agree within TOLERANCE dB.
agree() { # WHAT FIRST LAST TOLERANCE
    awk -v a="$2" -v b="$3" -v t="$4" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }' ||
        fail "$1: $2 dB in the first two minutes, $3 dB in the last"
    echo "render_day_test: $1: $2 dB first, $3 dB last"
}
# Third-octave bands from 50 Hz to 16 kHz, a decade apart where they matter.
for band in 45-56 450-560 4500-5600 14000-18000; do
    agree "pink ${band} Hz" "$(level first 1 "$band")" "$(level last 1 "$band")" 1
done
agree "modulated white" "$(level first 2)" "$(level last 2)" 0.2
