#!/usr/bin/env bash
# Times skarnel-render against sox on matched jobs: whole processes, each
# writing a stereo 16-bit WAV. Within a round the two programs alternate (and
# swap who goes first every round), so drifting machine load falls on both;
# each job reports the median of its rounds.
#
# Then, unless NO_CPU is set, the CPU the program uses while it plays the
# heaviest chain in real time (bench/cpu_while_playing.sh).
#
# Usage: bench/compare_sox.sh [path/to/skarnel-render [path/to/skarnel]]
#        (default: build/tools/skarnel-render and build/src/skarnel of this
#        checkout; nothing is built)
# Environment:
#   SECONDS_LEN  period in seconds (default 600)
#   RATE         sampling rate in Hz (default 48000)
#   ROUNDS       runs per program and job (default 3)
#   WINDOW       seconds of playing measured for the CPU figure (default 60)
set -euo pipefail

render="${1:-$(dirname "$0")/../build/tools/skarnel-render}"
len="${SECONDS_LEN:-600}"
rate="${RATE:-48000}"
rounds="${ROUNDS:-3}"
program="${2:-$(dirname "$0")/../build/src/skarnel}"

if [[ ! -x "$render" ]]; then
    echo "compare_sox.sh: '$render' is not an executable skarnel-render; build it first" >&2
    exit 2
fi
if ! command -v sox >/dev/null; then
    echo "compare_sox.sh: sox is not installed" >&2
    exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Seconds (with microseconds) that one command takes.
time_run() {
    local start end
    start=$EPOCHREALTIME
    "$@" >/dev/null
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

common=(--rate "$rate" --duration "$len" --channels stereo)
both() {  # the same option for both channels: both crest 6:1 -> --left-crest 6:1 --right-crest 6:1
    local name="$1" value="${2-}"
    if [[ $# -eq 1 ]]; then
        printf '%s\n' "--left-$name" "--right-$name"
    else
        printf '%s\n' "--left-$name" "$value" "--right-$name" "$value"
    fi
}

# skarnel-render's channel options for a job.
job_options() {
    case "$1" in
        white) both noise white; both crest 1.42:1 ;;
        pink) both noise pink; both crest 6:1 ;;
        heavy)
            both noise pink; both crest 10:1
            both filter peaking; both freq 1000; both gain -10; both q 3
            both mod; both mod-function triangular; both mod-period 2; both mod-depth 100
            ;;
    esac
}

jobs=(white pink heavy)
declare -A sox_effects=(
    [white]="whitenoise"
    [pink]="pinknoise"
    [heavy]="pinknoise equalizer 1000 3q -10 tremolo 0.5 100"
)
declare -A titles=(
    [white]="white noise (sox whitenoise)"
    [pink]="pink 6:1 (sox pinknoise)"
    [heavy]="pink 10:1 + peaking 1 kHz -10 dB Q 3 + triangular mod 2 s 100 % (sox pinknoise equalizer tremolo)"
)

echo "skarnel-render vs sox: ${len} s stereo ${rate} Hz 16-bit WAV, median of ${rounds} rounds"
printf '%-8s %12s %12s %8s  %s\n' job skarnel_s sox_s ratio description
for job in "${jobs[@]}"; do
    mapfile -t args < <(job_options "$job")
    read -r -a effects <<<"${sox_effects[$job]}"
    skarnel_cmd=("$render" "${common[@]}" "${args[@]}" "$work/skarnel.wav")
    # Rate and channels given to the null input, so sox synthesises both
    # channels at the target rate (after -n they would describe the output
    # only: sox would synthesise mono at 48 kHz, resample and copy the channel).
    # -D: no dither, as skarnel writes its samples undithered; -V1: errors only,
    # not the clipping warnings of full-scale noise.
    sox_cmd=(sox -V1 -D -r "$rate" -c 2 -n -b 16 "$work/sox.wav" synth "$len" "${effects[@]}")
    skarnel_times=()
    sox_times=()
    for ((round = 0; round < rounds; ++round)); do
        if ((round % 2 == 0)); then
            skarnel_times+=("$(time_run "${skarnel_cmd[@]}")")
            sox_times+=("$(time_run "${sox_cmd[@]}")")
        else
            sox_times+=("$(time_run "${sox_cmd[@]}")")
            skarnel_times+=("$(time_run "${skarnel_cmd[@]}")")
        fi
    done
    # Both must have written the same amount of audio for the times to compare.
    skarnel_size=$(stat -c %s "$work/skarnel.wav")
    sox_size=$(stat -c %s "$work/sox.wav")
    if [[ "$skarnel_size" != "$sox_size" ]]; then
        echo "warning: $job: skarnel wrote $skarnel_size bytes, sox $sox_size" >&2
    fi
    skarnel_median=$(printf '%s\n' "${skarnel_times[@]}" | median)
    sox_median=$(printf '%s\n' "${sox_times[@]}" | median)
    ratio=$(awk -v a="$skarnel_median" -v b="$sox_median" 'BEGIN { printf "%.2f", a / b }')
    printf '%-8s %12.3f %12.3f %8s  %s\n' "$job" "$skarnel_median" "$sox_median" "$ratio" \
        "${titles[$job]}"
done

if [[ -z ${NO_CPU:-} && -x $program ]]; then
    "$(dirname "$0")/cpu_while_playing.sh" "$program" "$(dirname "$render")/skarnel-make-presets"
fi
