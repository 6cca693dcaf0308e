"""The tray as StatusNotifier panels show it: late watcher, Activate, restarts without leaks, Exit;
and an X11 panel's XEmbed tray (trayer) that comes up late."""

import os
import subprocess
import sys

import dbus

from desktop import GUARD_S, Desktop, check

HERE = os.path.dirname(os.path.abspath(__file__))
WATCHER = "org.kde.StatusNotifierWatcher"

def start_watcher(d):
    w = d.spawn([sys.executable, os.path.join(HERE, "statusnotifier_watcher.py")])
    check(d.read_line(w) == "watching\n", "the stand-in watcher owns its name")
    return w

def registered(d, w):
    line = d.read_line(w)
    check(line.startswith("registered "), "the item registers with the watcher: " + line.strip())
    return line.split()[1]

def main(program):
    with Desktop(program) as d:
        d.start()
        d.wait_log("No system tray yet; waiting for one")
        wid = d.wait_for("with no tray the window is shown", d.window)
        watcher = start_watcher(d)
        item = registered(d, watcher)
        d.wait_log("Tray icon shown through StatusNotifierItem")

        # With a tray now, Esc puts the window away into it; Activate brings it back.
        subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", "Escape"], env=d.env)
        d.wait_for("Esc hides the window to the tray", lambda: d.window() is None)
        bus = dbus.bus.BusConnection(d.env["DBUS_SESSION_BUS_ADDRESS"])
        sni = bus.get_object(item, "/StatusNotifierItem")
        sni.Activate(0, 0, dbus_interface="org.kde.StatusNotifierItem")
        d.wait_for("Activate shows the window", d.window)

        # A panel that restarts, after a gap or taking the name straight over:
        # the item is registered again, and the program's descriptors stay
        # as they were after the first time.
        counts = []
        for handover in (False, True) * 3:
            old = watcher
            if not handover:
                old.terminate()
                old.wait()
                d.wait_for("the old watcher leaves the bus", lambda: not bus.name_has_owner(WATCHER))
            watcher = start_watcher(d)
            old.terminate()
            old.wait()
            item = registered(d, watcher)
            counts.append(d.fd_count())
        check(len(set(counts)) == 1, "descriptors stay flat across watcher restarts: %s" % counts)

        menu_path = bus.get_object(item, "/StatusNotifierItem").Get(
            "org.kde.StatusNotifierItem", "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
        menu = dbus.Interface(bus.get_object(item, menu_path), "com.canonical.dbusmenu")
        _, (_, _, children) = menu.GetLayout(0, -1, [])
        labels = {str(c[1].get("label", "")): int(c[0]) for c in children}
        check(list(labels) == ["Exit"], "the menu holds one entry, Exit: %s" % list(labels))
        menu.Event(labels["Exit"], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
        check(d.app.wait(GUARD_S) == 0, "Exit ends the program with 0")

def late_xembed_tray(program):
    with Desktop(program) as d:
        d.start()
        wid = d.wait_for("with no tray the window is shown", d.window)
        d.spawn(["trayer", "--edge", "top", "--widthtype", "request"])
        d.wait_log("Tray icon shown through XEmbed")
        subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", "Escape"], env=d.env)
        d.wait_for("Esc hides the window to the XEmbed tray", lambda: d.window() is None)

if __name__ == "__main__":
    main(sys.argv[1])
    late_xembed_tray(sys.argv[1])
