#!/bin/sh
# Puts the Tarvell Vorn I2C access package in place. Runs as root (the
# program starts it through pkexec).
#   TARVELL_I2C_ROOT  install below this folder instead of / (packaging, tests)
set -eu

here=$(CDPATH= cd -- "$(dirname -- "$0")" && pwd)
root=${TARVELL_I2C_ROOT:-}

if [ -z "$root" ] && [ "$(id -u)" -ne 0 ]; then
    echo "install-tarvell-i2c.sh: must run as root" >&2
    exit 1
fi

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
