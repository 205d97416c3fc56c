#!/usr/bin/env bash
# Renders the README's screenshots (English and German) into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
make build >/dev/null
build/tools/ovraid-screenshots docs/screenshots en
build/tools/ovraid-screenshots docs/screenshots/de de
