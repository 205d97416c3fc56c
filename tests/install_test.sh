#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR with prefix /usr and runs what was installed from
# there: a demo made by the installed ovraid-sim, ovraidctl status --json (through the
# simulation and through the installed bridge library) and the window offscreen. Every file the
# programs open or run is traced: none may lie in the source or build tree. Then the installed
# files' own checkers, bash completion, and the one version everywhere.
#   install_test.sh BUILD_DIR SOURCE_DIR VERSION APP_ID WITH_WINDOW
set -euo pipefail
build=$1 source=$2 version=$3 app_id=$4 with_window=$5

work=$(mktemp -d /tmp/ovraid-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; exit 1; }

# Everything the package promises, where the desktop, man, systemd and bash look for it.
library=$(find "$root/usr/lib" -name libovraid-sim.so -path '*/ovraid/*' | head -n 1)
[ -n "$library" ] || fail "the simulated bridge library is not installed under usr/lib/.../ovraid"
expected=(usr/bin/ovraid-sim usr/bin/ovraidctl usr/include/ovraid/bridge.h
  usr/share/metainfo/$app_id.metainfo.xml usr/share/icons/hicolor/scalable/apps/$app_id.svg
  usr/share/man/man1/ovraidctl.1 usr/share/man/man1/ovraid-sim.1
  usr/share/bash-completion/completions/ovraidctl usr/share/bash-completion/completions/ovraid-sim
  usr/lib/systemd/user/ovraidctl-monitor.service
  usr/share/doc/ovraid/examples/example_bridge.c usr/share/doc/ovraid/examples/bridge_exports.map
  usr/share/doc/ovraid/ovraidctl-json.md
  usr/share/doc/ovraid/ovraidctl-monitor.md usr/share/doc/ovraid/bridge-library.md
  usr/share/doc/ovraid/ovraidctl-status.schema.json usr/share/doc/ovraid/ovraidctl-monitor.schema.json)
if [ "$with_window" = 1 ]; then
  expected+=(usr/bin/ovraid usr/share/applications/$app_id.desktop usr/share/man/man1/ovraid.1)
  for size in 16 22 24 32 48 64 128 256; do
    expected+=(usr/share/icons/hicolor/${size}x$size/apps/$app_id.png)
  done
fi
for f in "${expected[@]}"; do
  [ -s "$root/$f" ] || fail "not installed: /$f"
done
# No device of anyone's is claimed: the simulated bridges' ids are made up, and a real bridge's
# rules and ids come from its library (ovraidctl udev-rules, below).
rules=$(cd "$root" && find . -path '*/udev/rules.d/*' -type f)
[ -z "$rules" ] || fail "udev rules are installed: $rules"
! grep -q '<modalias>' "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "the metainfo claims a device (modalias)"
grep -qx 'ExecStart=/usr/bin/ovraidctl monitor' "$root/usr/lib/systemd/user/ovraidctl-monitor.service" ||
  fail "the user unit does not start /usr/bin/ovraidctl"
grep -qx 'ConditionPathExists=|%E/ovraid/ovraid.conf' "$root/usr/lib/systemd/user/ovraidctl-monitor.service" ||
  fail "the user unit does not look for ovraid.conf under XDG_CONFIG_HOME"
# The example builds as its comment says, against the installed header alone.
if command -v cc >/dev/null; then
  build_line=$(sed -n '/^ \*   cc /,/\.c$/p' "$root/usr/share/doc/ovraid/examples/example_bridge.c" | sed 's/^ \* *//; s/\\$//' | tr '\n' ' ')
  [[ $build_line == cc* ]] || fail "example_bridge.c has no build line"
  mkdir "$work/example" && cp "$root/usr/share/doc/ovraid/examples/example_bridge.c" "$work/example/"
  (cd "$work/example" && eval "${build_line/cc /cc -I$root/usr/include }" && [ -s libovraid-example.so ]) ||
    fail "the example's build line fails against the installed header: $build_line"
  # And as the installed bridge-library.md tells a user of the package, with the installed version
  # script: the sixteen functions are all the library exports.
  doc_line=$(grep -B1 -m1 '^ .* /usr/share/doc/ovraid/examples/example_bridge\.c$' "$root/usr/share/doc/ovraid/bridge-library.md" |
    sed 's/\\$//' | tr '\n' ' ')
  [[ $doc_line == *" /usr/share/doc/ovraid/examples/example_bridge.c "* ]] || fail "bridge-library.md has no build line for the installed example: $doc_line"
  doc_line=${doc_line//\/usr\/share\/doc/$root/usr/share/doc}
  (mkdir "$work/doc-example" && cd "$work/doc-example" &&
    eval "${doc_line/cc /cc -I$root/usr/include -Wl,--version-script=$root/usr/share/doc/ovraid/examples/bridge_exports.map }" &&
    exports=$(nm -D --defined-only libovraid-example.so | awk '{print $3}' | sort | tr '\n' ' ') &&
    [ "$exports" = "closeConnection getDeviceList openConnection ovFlushHDDCache ovGetDiskIdentify ovGetRaidInfo ovGetRaidInfoFW ovGetRebuildStatus ovGetRegister ovSetRaidInfo ovSetRaidInfoFW ovWarmBoot ovraid_bridge_api_version ovraid_bridge_attach ovraid_bridge_detach ovraid_bridge_match_table " ] ||
    { echo "exports: ${exports:-}"; false; }) ||
    fail "bridge-library.md's build line for the installed example, with bridge_exports.map, fails: $doc_line"
fi

# The one version: each program, the metainfo's newest release, and the Debian changelog.
programs=(ovraidctl ovraid-sim)
[ "$with_window" = 1 ] && programs+=(ovraid)
for p in "${programs[@]}"; do
  out=$("$root/usr/bin/$p" --version 2>&1) || true
  [ "$out" = "$p $version" ] || fail "$p --version says '$out', not '$p $version'"
done
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "the metainfo's release is not $version"
# Its screenshots are read from the release's tag: each must name a picture git holds, so the tag
# made from this tree serves it.
images=$(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$root/usr/share/metainfo/$app_id.metainfo.xml")
[ -n "$images" ] || fail "the metainfo names no screenshot"
for url in $images; do
  path=${url#*/v$version/}
  if [ "$path" = "$url" ]; then
    fail "screenshot $url is not read from the tag v$version"
  elif command -v git >/dev/null && [ "$(git -C "$source" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$source" && pwd -P)" ]; then
    git -C "$source" ls-files --error-unmatch -- "$path" >/dev/null 2>&1 || fail "screenshot $url: git holds no $path"
  else
    [ -f "$source/$path" ] || fail "screenshot $url: the tree has no $path"
  fi
done
# Every man page: the release date in one form, and SEE ALSO.
release_date=$(sed -n 's/^set(OVRAID_RELEASE_DATE \([^)]*\))/\1/p' "$source/CMakeLists.txt")
for page in "$root"/usr/share/man/man1/*.1; do
  grep -q "^\.TH [^ ]* \"\?1\"\? \"$release_date\"" "$page" || fail "$(basename "$page") is not dated $release_date: $(grep -m1 '^\.TH' "$page")"
  grep -q '^\.SH "\?SEE ALSO' "$page" || fail "$(basename "$page") has no SEE ALSO"
done
changelog=$(sed -n '1s/^ovraid (\([^)]*\)).*/\1/p' "$source/debian/changelog")
[ "${changelog%-*}" = "$version" ] || fail "debian/changelog is at '$changelog', the project at $version"

# The installed programs, with the build tree out of their way: no PATH or library path into it,
# a home of their own, and strace (when there) recording every file opened or program started.
export PATH=$root/usr/bin:/usr/bin:/bin HOME=$work/home
unset LD_LIBRARY_PATH XDG_DATA_HOME XDG_CONFIG_HOME OVRAID_SIM_TOOL
# LeakSanitizer cannot run under a tracer; the other sanitizers can.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
mkdir -p "$HOME"
cd "$work"
traced() {
  local name=$1
  shift
  if command -v strace >/dev/null; then
    strace -f -qq -e trace=%file,%process -o "$work/$name.trace" "$@"
  else
    "$@"
  fi
}
traced sim ovraid-sim --sim "$work/sim" demo >/dev/null || fail "the installed ovraid-sim made no demo"
json=$(traced status ovraidctl --sim "$work/sim" status --json) || fail "installed ovraidctl status --json failed"
for want in "\"version\":\"$version\"" '"name":"OVB20110203A1"' '"state":"healthy"' '"bus":"firewire"'; do
  [[ $json == *"$want"* ]] || fail "ovraidctl status --json lacks $want: $json"
done
json=$(traced library ovraidctl --sim "$work/sim" --library "$library" status --json) ||
  fail "ovraidctl status --json through the installed bridge library failed"
[[ $json == *'"name":"OVB20110203A1"'* ]] || fail "the installed bridge library shows no demo enclosure: $json"
# The udev rules a user installs for a real bridge library, as the man page and docs say: the
# example library's one USB id, for the device and its SCSI generic node.
if [ -s "$work/example/libovraid-example.so" ]; then
  rules=$(ovraidctl udev-rules --library "$work/example/libovraid-example.so") || fail "ovraidctl udev-rules failed"
  for want in 'SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="1e91", ATTR{idProduct}=="0e01", TAG+="uaccess"' \
    'SUBSYSTEM=="scsi_generic", SUBSYSTEMS=="usb", ATTRS{idVendor}=="1e91", ATTRS{idProduct}=="0e01", TAG+="uaccess"'; do
    grep -qxF "$want" <<<"$rules" || fail "ovraidctl udev-rules lacks the line $want: $rules"
  done
fi
# Rules for the simulated bridges' made-up ids come with a warning.
warned=$(ovraidctl udev-rules --library "$library" 2>&1 >/dev/null) || fail "ovraidctl udev-rules failed on the simulated library"
[[ $warned == *"made up"* ]] || fail "no warning for rules of the simulated bridges: $warned"
if [ "$with_window" = 1 ]; then
  # Two windows at once, in English: one as a desktop starts it, one with OVRAID_DEBUG. The scaled
  # clock scans the demo in well under a second; the rest of the time is a sanitizer's slow start.
  export LC_ALL=C.UTF-8
  unset LANGUAGE OVRAID_DEBUG
  look=(--sim "$work/sim" --quit-after 8 --screenshot)
  QT_QPA_PLATFORM=offscreen traced window ovraid "${look[@]}" "$work/window.png" >"$work/window.out" 2>"$work/window.err" &
  quiet=$!
  OVRAID_DEBUG=1 QT_QPA_PLATFORM=offscreen ovraid "${look[@]}" "$work/debug.png" >"$work/debug.out" 2>"$work/debug.err" &
  wait $quiet || fail "the installed window did not run offscreen: $(cat "$work/window.err")"
  wait $! || fail "the installed window did not run with OVRAID_DEBUG=1: $(cat "$work/debug.err")"
  [ -s "$work/window.png" ] || fail "the installed window saved no screenshot"
  # What it showed: both demo enclosures with their state, the mirror and every disk.
  has_line() { # FILE GLOB: a line of FILE matches GLOB
    local line
    while IFS= read -r line; do [[ $line == $2 ]] && return 0; done <"$1"
    return 1
  }
  for shown in '  Enclosure 1 (USB) \[USB enclosure, S/N OVB20110203A1 * healthy\]' \
    '    RAID Volume (SN: OVB20110203A1)' '      M0: Kestrel KS1000 SATA \[Bay 1: *' \
    '      M1: Kestrel KS1000 SATA \[Bay 2: *' \
    '  Enclosure 2 (1394) \[FireWire enclosure, GUID 80004601A2B3C4D5 * not configured\]' \
    '    P0: Northwind ND2000AS \[Bay 1: *' '    P1: Northwind ND3000AS \[Bay 2: *'; do
    has_line "$work/window.out" "$shown" || fail "the installed window did not show '$shown':
$(cat "$work/window.out")"
  done
  # Started from a desktop, its output goes to the journal: none of the engine's working words.
  chatter=$(grep -v -e '^Screenshot: ' -e '^Shown:' -e '^  ' -e '^Resident memory: ' "$work/window.out" || true)
  [ -z "$chatter" ] || fail "the window printed more than the screenshot's lines: $chatter"
  ! grep -q -e 'Starting run loop' -e '^ovraid: simulated' "$work/window.err" ||
    fail "the window printed the engine's words on standard error: $(cat "$work/window.err")"
  # OVRAID_DEBUG brings them back, each on a line of its own.
  [ "$(grep -cx added "$work/debug.out")" = 2 ] && has_line "$work/debug.out" 'tree built' &&
    has_line "$work/debug.err" 'Starting run loop.' && has_line "$work/debug.err" "ovraid: simulated enclosures in $work/sim" &&
    ! grep -qx '' "$work/debug.out" "$work/debug.err" ||
    fail "OVRAID_DEBUG=1 did not print the engine's words one to a line:
$(cat "$work/debug.out" "$work/debug.err")"
fi
# The sanitizers' own suppression file is the test's, not the program's.
if command -v strace >/dev/null; then
  if grep -h -F "$source" "$work"/*.trace | grep -v -F "$source/tests/tsan.supp" | head -n 5 | grep .; then
    fail "an installed program opened or ran the files above from the source or build tree"
  fi
  grep -q "execve(\"$root/usr/bin/ovraid-sim\", \[[^]]*\"firmware\"" "$work"/status.trace ||
    fail "ovraidctl did not start the installed ovraid-sim as the simulation's firmware"
fi

# The installed files as their readers check them, where those checkers are installed.
if [ "$with_window" = 1 ] && command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli validate"; }
fi
if command -v man >/dev/null; then
  for page in "$root"/usr/share/man/man1/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings on $(basename "$page"): $warnings"
    # No path, option or word split at a line's end ("~/.lo-" "cal/share").
    split=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -e '‐$' -e '[a-z]-$' | head -n 3 || true)
    [ -z "$split" ] || fail "$(basename "$page") splits words at line ends: $split"
  done
fi
# The completions as bash runs them: a command, a word after a command, and the simulation's bridges.
if [ -r /usr/share/bash-completion/bash_completion ]; then
  completed=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1/ovraidctl" && source "$1/ovraid-sim" || exit 1
    line() {
      local fn=$1; shift
      COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMPREPLY=()
      COMP_POINT=${#COMP_LINE}
      $fn
      echo "${COMPREPLY[*]}"
    }
    line _ovraidctl ovraidctl re
    line _ovraidctl ovraidctl create 1 ""
    line _ovraidctl ovraidctl monitor --
    line _ovraidctl ovraidctl delete 1 --j
    line _ovraid_sim ovraid-sim --sim "$2" plug ""' _ "$root/usr/share/bash-completion/completions" "$work/sim" 2>&1)
  [ "$completed" = $'rebuild restart\nraid0 raid1 span\n--sim --library --help --version --json --oneshot --interval --program --no-notify --no-syslog\n--json\nfirewire-pair usb-raid' ] ||
    fail "bash completion offers: $completed"
fi

[ "$failures" -eq 0 ] && echo "installed and ran from $root"
exit $((failures > 0))
