#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the .deb, unpacks it into a scratch root and checks what it installs.
# Usage: tst_deb.sh <source-dir> <build-dir>
set -euo pipefail

src=$1
build=$2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

deb=$("$src/scripts/package" "$build")
[ -f "$deb" ] || { echo "FAIL: no package built" >&2; exit 1; }
echo "package: $deb"

root=$(mktemp -d)
work=$(mktemp -d)
cleanup() {
  [ -n "${panel:-}" ] && kill "$panel" 2>/dev/null
  [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null
  [ -n "${bus:-}" ] && kill "$bus" 2>/dev/null
  rm -rf "$root" "$work"
}
trap cleanup EXIT

# Control fields: dependencies found by dpkg-shlibdeps, and the run-time ones named by hand.
depends=$(dpkg-deb -f "$deb" Depends)
for d in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libqt6network6 qt6-qpa-plugins; do
  grep -Eq "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d: $depends"
done
grep -Eq 'asan|ubsan' <<<"$depends" && fail "a sanitizer runtime in Depends: $depends"
[ "$(dpkg-deb -f "$deb" Package)" = palvo-panel ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Section)" = hamradio ] || fail "section"

# Exactly these files, nothing from the tests or the benchmark.
dpkg -x "$deb" "$root"
expected="usr/bin/palvo-panel
usr/bin/palvo2-fldigi
usr/bin/palvo2-sim
usr/bin/palvo2-wsjtx
usr/bin/palvoctl
usr/lib/systemd/user/palvo2-fldigi.service
usr/lib/systemd/user/palvo2-wsjtx.service
usr/share/applications/net.palvo.panel.desktop
usr/share/bash-completion/completions/palvoctl
usr/share/dbus-1/interfaces/Palvo2.Application.xml
usr/share/doc/palvo-panel/README.md
usr/share/doc/palvo-panel/changelog.gz
usr/share/doc/palvo-panel/copyright
usr/share/doc/palvo-panel/docs/panel.png
usr/share/icons/hicolor/scalable/apps/net.palvo.panel.svg
usr/share/man/man1/palvo-panel.1.gz
usr/share/man/man1/palvo2-fldigi.1.gz
usr/share/man/man1/palvo2-sim.1.gz
usr/share/man/man1/palvo2-wsjtx.1.gz
usr/share/man/man1/palvoctl.1.gz
usr/share/metainfo/net.palvo.panel.metainfo.xml"
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for exe in palvo-panel palvo2-sim palvo2-fldigi palvo2-wsjtx palvoctl; do
  f=$root/usr/bin/$exe
  [ -x "$f" ] || { fail "$exe is not executable"; continue; }
  missing=$(ldd "$f" | grep -E 'not found|libasan|libubsan' || true)
  [ -z "$missing" ] || fail "$exe links: $missing"
done

# Debian's own checks: not an error, not a warning.
lintian --fail-on error,warning "$deb" || fail "lintian"

# Manual pages render without a complaint; the user service verifies, its paths in the scratch
# root; the published interface is the contract the programs are built from.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  complaints=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$complaints" ] || fail "$(basename "$page"): $complaints"
  LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q '^NAME' || fail "$(basename "$page") does not render"
done
mkdir -m 700 "$work/runtime"
for service in palvo2-fldigi palvo2-wsjtx; do
  sed "s|/usr/bin/|$root/usr/bin/|" "$root/usr/lib/systemd/user/$service.service" >"$work/$service.service"
  XDG_RUNTIME_DIR=$work/runtime MANPATH=$root/usr/share/man systemd-analyze --user verify \
    "$work/$service.service" || fail "systemd-analyze --user verify $service"
done
cmp "$root/usr/share/dbus-1/interfaces/Palvo2.Application.xml" "$src/hostlink/Palvo2.Application.xml" \
  || fail "the published interface is not the contract"
bash -n "$root/usr/share/bash-completion/completions/palvoctl" || fail "the bash completion does not parse"
for exe in palvo2-sim palvo2-fldigi palvo2-wsjtx palvoctl; do
  [ "$("$root/usr/bin/$exe" --version)" = "$exe $(dpkg-deb -f "$deb" Version)" ] || fail "$exe --version"
done

# Desktop entry, icon and AppStream metadata agree with each other and validate.
desktop=$root/usr/share/applications/net.palvo.panel.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
exec_name=$(sed -n 's/^Exec=//p' "$desktop" | cut -d' ' -f1)
[ -x "$root/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not in the package"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no SVG"
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is not well-formed"
metainfo=$root/usr/share/metainfo/net.palvo.panel.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" >&2 || fail "appstreamcli validate"
grep -q '<launchable type="desktop-id">net.palvo.panel.desktop</launchable>' "$metainfo" \
  || fail "metainfo does not launch the desktop file"

# The installed programs work together: the panel polls the installed host on a bus of our own.
dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$work" >"$work/address" 2>/dev/null &
bus=$!
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/address")
"$root/usr/bin/palvo2-sim" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner \
    string:Palvo2.Application >/dev/null 2>&1 && break
  sleep 0.1
done
# The installed palvoctl reads the installed host, and its completion offers that host's modes.
[ "$("$root/usr/bin/palvoctl" mode)" = BPSK31 ] || fail "the installed palvoctl did not read the host"
completions=$(PATH=$root/usr/bin:$PATH bash -c 'source "$1"; COMP_WORDS=(palvoctl mode R); COMP_CWORD=2; _palvoctl
  echo "${COMPREPLY[*]}"' sh "$root/usr/share/bash-completion/completions/palvoctl")
[ "$completions" = RTTY ] || fail "completing 'palvoctl mode R' gave '$completions', not RTTY"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/palvo-panel" 2>"$work/panel.err" &
panel=$!
sleep 1.5
kill -0 "$panel" 2>/dev/null || fail "the installed panel did not keep running"
grep -q 'Error' "$work/panel.err" && fail "the installed panel failed: $(cat "$work/panel.err")"
kill "$sim"; wait "$sim" 2>/dev/null || true; sim=
for _ in $(seq 50); do grep -q 'Error' "$work/panel.err" && break; sleep 0.1; done
grep -q 'NameHasNoOwner' "$work/panel.err" || fail "the installed panel was not polling the host"

# Each unit starts the bridge the package holds, also in a package made from a build with the
# default prefix (/usr/local): the package installs under /usr whatever the build's prefix.
starts() { sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$1/usr/lib/systemd/user/$2.service"; }
holds() { local program; program=$(starts "$1" "$2"); [ "$program" = "/usr/bin/$2" ] && [ -x "$1$program" ]; }
for service in palvo2-fldigi palvo2-wsjtx; do
  holds "$root" "$service" || fail "ExecStart=$(starts "$root" "$service") is not in the package"
done
cmake -U CMAKE_INSTALL_PREFIX "$build" >/dev/null
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null) || fail "cpack from a build with the default prefix"
mkdir "$work/default-prefix"
dpkg -x "$build"/*.deb "$work/default-prefix"
for service in palvo2-fldigi palvo2-wsjtx; do
  holds "$work/default-prefix" "$service" \
    || fail "from a build with the default prefix, ExecStart=$(starts "$work/default-prefix" "$service") is not in the package"
done

[ "$failures" -eq 0 ] && echo "PASS: package checks"
exit "$failures"
