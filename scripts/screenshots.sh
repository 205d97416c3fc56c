#!/usr/bin/env bash
# Renders the README's screenshots (English and German) into docs/ on a virtual display,
# so tooltips are real windows as a user sees them.
set -euo pipefail
cd "$(dirname "$0")/.."
make build >/dev/null
for lang in en de; do
  out=docs/screenshots
  [ "$lang" = en ] || out=docs/screenshots/$lang
  xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb build/tools/ovraid-screenshots "$out" "$lang"
done
