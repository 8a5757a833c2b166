#!/usr/bin/env bash
# Builds Varnok and shows the bundled sample archive: its listing through varnok-cli, and (with a display, or
# VARNOK_GUI=1) the main window opened on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/bin/varnok-cli list samples/varnok-sample.zip
if [ -x build/bin/varnok ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ "${VARNOK_GUI:-}" = 1 ]; }; then
  exec build/bin/varnok samples/varnok-sample.zip
fi
