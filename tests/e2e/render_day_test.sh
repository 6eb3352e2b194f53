#!/usr/bin/env bash
# A burn-in file: 24 hours of stereo white noise at 48 kHz (16.6 GB, four
# times what a WAV can hold) rendered to a 64-bit container, read back by
# soxi (sox) and sndfile-info (libsndfile) at exactly 4,147,200,000 frames.
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
"$render" -q -r 48000 -c stereo -d 24:00:00 --left-noise white --right-noise white \
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
