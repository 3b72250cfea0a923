#!/bin/sh
# Stages `cmake --install` under a scratch DESTDIR with another prefix and checks that the
# program, its user and its unit land there, that the unit names the installed program,
# and that the service manager's own checker accepts the unit where it is installed.
# usage: install_test.sh BUILD_DIR
set -eu
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /opt/bm7 >"$stage/install.log"
unit="$stage/opt/bm7/lib/systemd/system/brakmoor7.service"
for file in "$stage/opt/bm7/bin/brakmoor7" "$stage/opt/bm7/lib/sysusers.d/brakmoor7.conf" "$unit"; do
    [ -e "$file" ] || { echo "not installed: $file" >&2; cat "$stage/install.log" >&2; exit 1; }
done
grep -q '^ExecStart=/opt/bm7/bin/brakmoor7 ' "$unit" || {
    echo "the unit does not start the installed program:" >&2
    grep ExecStart "$unit" >&2
    exit 1
}
for setting in Type=notify WatchdogSec=60 Restart=on-failure RestartSec=10 \
    After=sound.target SupplementaryGroups=audio StateDirectory=brakmoor7; do
    grep -q "^$setting" "$unit" || { echo "the unit lacks $setting" >&2; exit 1; }
done

if command -v systemd-analyze >/dev/null 2>&1; then
    # The checker wants the program where ExecStart says; point it at the staged one.
    sed "s#/opt/bm7/bin/brakmoor7#$stage/opt/bm7/bin/brakmoor7#" "$unit" >"$stage/brakmoor7.service"
    systemd-analyze verify "$stage/brakmoor7.service"
else
    echo "systemd-analyze is not here: the unit was not verified"
fi
