#!/usr/bin/env bash
# Builds Varnok and shows the bundled sample archive: its listing through varnok-cli, then the main window opened
# on it. Without a display the window is skipped, unless VARNOK_GUI=1 asks for a virtual one (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/bin/varnok-cli list samples/varnok-sample.zip
if [ ! -x build/bin/varnok ]; then
  echo "The main window was not built (Qt 6 Widgets missing?)."
  exit 0
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/varnok samples/varnok-sample.zip
elif [ "${VARNOK_GUI:-}" = 1 ]; then
  exec xvfb-run -a build/bin/varnok samples/varnok-sample.zip
else
  echo "No display: the main window is not shown (set DISPLAY, or VARNOK_GUI=1 for a virtual display)."
fi
