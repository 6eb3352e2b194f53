#!/usr/bin/env bash
# Builds Skarnel and runs the whole test suite. On a fresh Debian 12 machine it
# first installs whatever build and test packages are missing.
#
# Environment:
#   SKARNEL_BUILD_DIR   build folder (default: build)
#   SKARNEL_CMAKE_ARGS  extra arguments for the CMake configure step
set -euo pipefail
cd "$(dirname "$0")"

mapfile -t packages < <(grep -v '^\s*#' scripts/build_packages.txt | grep -v '^\s*$')
scripts/ensure_packages.sh "${packages[@]}"

build_dir="${SKARNEL_BUILD_DIR:-build}"
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja ${SKARNEL_CMAKE_ARGS:-}
cmake --build "$build_dir" --parallel
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
