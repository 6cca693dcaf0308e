#!/bin/sh
# Puts the Tarvell Vorn I2C access package in place. Runs as root (the
# program starts it through pkexec).
#   TARVELL_I2C_ROOT  install below this folder instead of / (packaging, tests)
set -eu

here=$(CDPATH= cd -P -- "$(dirname -- "$0")" && pwd)
self="$here/$(basename -- "$0")"
root=${TARVELL_I2C_ROOT:-}

if [ -z "$root" ] && [ "$(id -u)" -ne 0 ]; then
    echo "install-tarvell-i2c.sh: must run as root" >&2
    exit 1
fi

# Root runs this: anything another user could have changed - the script, the
# files it installs, the folders above them - must not be trusted.
trusted() {
    # owner uid and octal mode; not group or world writable, owned by root
    set -- $(stat -L -c '%u %a' -- "$1")
    [ "$1" -eq 0 ] && [ $(( 0$2 & 022 )) -eq 0 ]
}
# A folder above the package may be root's sticky one, as /tmp is: others
# can add names there but never rename or remove root's, so the path through
# it stays root's.
trusted_above() {
    set -- $(stat -L -c '%u %a' -- "$1")
    [ "$1" -eq 0 ] && { [ $(( 0$2 & 022 )) -eq 0 ] || [ $(( 0$2 & 01000 )) -ne 0 ]; }
}
refuse() {
    echo "install-tarvell-i2c.sh: refusing, $1 is not owned by root or is writable by others" >&2
    exit 2
}
trusted "$here" || refuse "$here"
dir=$here
while [ "$dir" != / ]; do
    dir=$(dirname -- "$dir")
    trusted_above "$dir" || refuse "$dir"
done
for f in "$self" "$here/tarvell-vorn-i2c.conf" "$here/70-tarvell-vorn-i2c.rules"; do
    if [ -L "$f" ] || ! trusted "$f"; then
        refuse "$f"
    fi
done

install -d -m 0755 "$root/etc/modules-load.d" "$root/etc/udev/rules.d"
install -m 0644 "$here/tarvell-vorn-i2c.conf" "$root/etc/modules-load.d/tarvell-vorn-i2c.conf"
install -m 0644 "$here/70-tarvell-vorn-i2c.rules" "$root/etc/udev/rules.d/70-tarvell-vorn-i2c.rules"

# The rule must be known before i2c-dev creates its nodes; nodes that are
# already there get it through the trigger.
udevadm control --reload
modprobe i2c-dev
udevadm trigger --subsystem-match=i2c-dev --action=add
udevadm settle || true

echo "Tarvell Vorn I2C access installed."
