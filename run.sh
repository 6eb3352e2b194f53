#!/usr/bin/env bash
# Starts Skarnel: installs what is missing, builds when needed, runs the
# program. Set SKARNEL_AUDIO=simulated to play on a simulated real-time device
# instead of the sound card.
set -euo pipefail
cd "$(dirname "$0")"

mapfile -t packages < <(grep -v '^\s*#' scripts/build_packages.txt | grep -v '^\s*$')
scripts/ensure_packages.sh "${packages[@]}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Skarnel needs a graphical desktop, but no display is available" >&2
    echo "(neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Start it from a desktop session, or try it headless with:" >&2
    echo "  xvfb-run -a ./run.sh" >&2
    exit 1
fi

cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target skarnel >/dev/null
exec build/src/skarnel "$@"
