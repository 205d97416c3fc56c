#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run command need, when missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools qt6-tools-dev libgl-dev
  hdparm xvfb xauth
  libudev-dev umockdev libumockdev-dev
  python3 libsystemd-dev dbus-daemon python3-dbusmock python3-jsonschema
  clang libclang-rt-14-dev
  help2man librsvg2-bin strace desktop-file-utils appstream debhelper lintian
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
