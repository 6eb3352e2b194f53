#!/usr/bin/env bash
# Starts Skarnel. The generator window is not built yet; until it is, this
# builds the command-line renderer and shows how to use it.
set -euo pipefail
cd "$(dirname "$0")"

mapfile -t packages < <(grep -v '^\s*#' scripts/build_packages.txt | grep -v '^\s*$')
scripts/ensure_packages.sh "${packages[@]}"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target skarnel-render >/dev/null
echo "The Skarnel window is not available yet. The renderer is ready:"
echo
build/tools/skarnel-render --help
