#!/usr/bin/env bash
# skarnel-render's output types and durations as other programs see them:
# - W64 and RF64 renders read back with soxi (sox) and sndfile-info
#   (libsndfile's own tool) at the frame count asked for, and sox decodes
#   them to the very sample bytes of the WAV render of the same settings;
# - a FLAC render decodes with flac (libFLAC's own tool, not the library that
#   wrote it) to those sample bytes as well;
# - "-d 1:30" and "-d 90" give the same file, and so do "-d 48000s" and
#   "-d 1" at 48 kHz;
# - on a terminal (a pty from script(1)) a long render shows its progress
#   line, rewritten with "\r" and ended at 100 % with a newline; -q shows
#   nothing.
#
# Usage: render_formats_test.sh SKARNEL_RENDER
set -euo pipefail

fail() { echo "render_formats_test: FAIL: $*" >&2; exit 1; }
[[ $# -eq 1 ]] || fail "usage: $0 SKARNEL_RENDER"
render=$(realpath "$1")
for tool in sox soxi sndfile-info flac script cmp; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing (packages sox, sndfile-programs, flac, bsdutils)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The 16-bit sample bytes of a WAV our writer made (its header is 44 bytes).
wav_samples() { tail -c +45 "$1"; }

signal=(-r 48000 -c stereo -d 3.5 --left-noise white --right-crest 10:1 --right-amplitude -6)
"$render" "${signal[@]}" ref.wav
wav_samples ref.wav >ref.raw
frames=$((48000 * 35 / 10))

for out in a.w64 a.rf64; do
    "$render" "${signal[@]}" "$out" || fail "$out: skarnel-render failed"
    [[ $(soxi -s "$out") == "$frames" ]] || fail "$out: soxi reads $(soxi -s "$out") frames, not $frames"
    info_frames=$(sndfile-info "$out" | sed -n 's/^Frames *: *//p')
    [[ "$info_frames" == "$frames" ]] || fail "$out: sndfile-info reads '$info_frames' frames, not $frames"
    sox "$out" -t raw "$out.raw"
    cmp -s "$out.raw" ref.raw || fail "$out: sox decodes other samples than the WAV holds"
    echo "$out: $frames frames in soxi and sndfile-info, samples equal the WAV's"
done

"$render" "${signal[@]}" a.flac || fail "a.flac: skarnel-render failed"
flac --silent --decode --force-raw-format --endian=little --sign=signed -o flac.raw a.flac
cmp -s flac.raw ref.raw || fail "a.flac: flac decodes other samples than the WAV holds"
[[ $(soxi -s a.flac) == "$frames" ]] || fail "a.flac: soxi reads $(soxi -s a.flac) frames"
echo "a.flac: decodes to the WAV's samples ($(stat -c %s a.flac) of $(stat -c %s ref.raw) bytes)"

"$render" -d 1:30 --left-noise white clock.wav
"$render" -d 90 --left-noise white seconds.wav
cmp -s clock.wav seconds.wav || fail "-d 1:30 and -d 90 give different files"
"$render" -r 48000 -d 48000s frames.wav
"$render" -r 48000 -d 1 one.wav
cmp -s frames.wav one.wav || fail "-d 48000s and -d 1 at 48000 Hz give different files"
echo "durations: 1:30 = 90, 48000s = 1 s at 48 kHz, byte for byte"

# About 3 s of work: past the second after which the line shows, whatever
# the build's speed (a sanitizer build renders many times slower). A short
# render measures it; when the machine was busier during the measure than
# during the render, the render is too short for the line, and a render
# four times as long is tried, as long as the last one took under 2 s.
start=$(date +%s%N)
"$render" -r 192000 -c stereo -d 20 -t wav /dev/null
took_ms=$((($(date +%s%N) - start) / 1000000))
seconds=$((20 * 3000 / (took_ms > 0 ? took_ms : 1)))
((seconds < 20)) && seconds=20
((seconds > 3000)) && seconds=3000
for attempt in 1 2 3; do
    long=(-r 192000 -c stereo -d "$seconds" -t wav /dev/null)
    # What the program wrote to the terminal is script's output; its log
    # file would add lines of its own.
    start=$(date +%s%N)
    script -qec "$(printf '%q ' "$render" "${long[@]}")" /dev/null </dev/null >shown.log ||
        fail "the render on a terminal failed: $(cat shown.log)"
    took_ms=$((($(date +%s%N) - start) / 1000000))
    grep -q $'\rskarnel-render: ' shown.log || ((took_ms >= 2000)) || {
        seconds=$((seconds * 4))
        continue
    }
    break
done
grep -q $'\rskarnel-render: ' shown.log || fail "no progress line on a terminal: $(cat -A shown.log)"
grep -q 'x real time' shown.log || fail "the progress line has no speed: $(cat -A shown.log)"
last=$(tr '\r' '\n' <shown.log | grep -a 'skarnel-render: ' | tail -1)
[[ "$last" == *"100.0 %"* ]] || fail "the last progress line is not 100 %: '$last'"
[[ $(tail -c 2 shown.log | od -An -c | tr -d ' ') == '\r\n' ]] ||
    fail "the progress line is not ended by a newline: $(tail -c 20 shown.log | od -c)"
updates=$(grep -o $'\rskarnel-render: ' shown.log | wc -l)
echo "terminal: $updates progress updates, the last '$last'"
script -qec "$(printf '%q ' "$render" -q "${long[@]}")" /dev/null </dev/null >quiet.log ||
    fail "the quiet render on a terminal failed: $(cat quiet.log)"
[[ ! -s quiet.log ]] || fail "-q still printed: $(cat -A quiet.log)"
echo "render_formats_test: passed"
