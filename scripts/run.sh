#!/usr/bin/env bash
# Runs ovraid on the simulated enclosures, creating the demo on first start.
# Without a display the window runs on a virtual framebuffer and a screenshot is saved.
set -euo pipefail
build=${1:-build}
sim="${OVRAID_SIM:-${XDG_DATA_HOME:-$HOME/.local/share}/ovraid/sim}"
if [ ! -d "$sim" ]; then
  "$build/tools/ovraid-sim" --sim "$sim" demo
fi
# What the bridges hold, as the command line tells it (its exit code says how healthy).
"$build/cli/ovraidctl" --sim "$sim" status || true
app="$build/app/ovraid"
[ -x "$app" ] || exit 0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$app" --sim "$sim"
fi
shot="${OVRAID_SCREENSHOT:-$PWD/ovraid-screenshot.png}"
echo "No display: running the window on a virtual framebuffer."
xvfb-run -a -s "-screen 0 1024x768x24" "$app" --sim "$sim" --screenshot "$shot" --quit-after 12
echo "Screenshot saved to $shot"
