"""The program on a desktop of the test's own with a tray and a notification
service, the simulated card failing every request: hidden in the tray it says
the saved choices did not reach the card, a click on that opens the window,
the autostart switch writes and removes the desktop entry by pointer and
keyboard, and closing puts the window away with one hint. Pictures of the
Setting page land in the given folder."""

import os
import select
import subprocess
import sys

import dbus

from desktop import Desktop, check

HERE = os.path.dirname(os.path.abspath(__file__))
FAILED = "Tarvell Vorn|Tarvell Vorn|Your lighting and fan settings did not reach the card.|default,Open Tarvell Vorn"
TRAY_HINT = "Tarvell Vorn|Tarvell Vorn|Tarvell Vorn keeps running in the tray|"
AUTOSTART = ("check box", "Start with the desktop")


class Services:
    """The stand-in tray and notification service, and what it has said."""

    def __init__(self, d):
        self.proc = d.spawn([sys.executable, os.path.join(HERE, "statusnotifier_watcher.py"), "--notifications"])
        self.lines = [d.read_line(self.proc)]
        check(self.lines == ["watching\n"], "the stand-in tray and notification service are up")

    def said(self):
        while select.select([self.proc.stdout], [], [], 0)[0]:
            self.lines.append(self.proc.stdout.readline().decode())
        return self.lines

    def notified(self, text):
        return [int(line.split()[1]) for line in self.said() if line.startswith("notify ") and line.split(" ", 2)[2].rstrip("\n") == text]

    def invoke(self, id, key):
        self.proc.stdin.write(b"invoke %d %s\n" % (id, key.encode()))


def main(program, card_sim, close_window, pictures):
    os.makedirs(pictures, exist_ok=True)
    with Desktop(program) as d:
        d.accessibility_bus()
        services = Services(d)
        d.start_card(card_sim, ["error=31"])
        entry = d.path("home/.config/autostart/tarvell-vorn.desktop")

        def shown(name):
            d.grab(os.path.join(pictures, "setting-%s.png" % name), window=d.window())

        def checked():
            return d.find(*AUTOSTART).getState().contains(d.atspi.STATE_CHECKED)

        def knob(on):
            """The switch's knob at its end, in its colour: blue on the right when on."""
            box = d.find(*AUTOSTART).queryComponent().getExtents(d.atspi.DESKTOP_COORDS)
            w, _, rgb = d.grab()
            at = ((box.y + box.height // 2) * w + box.x + (box.width - 10 if on else 10)) * 3
            return rgb[at:at + 3] == bytes.fromhex("6B90D7" if on else "747474")

        # Hidden in the tray, the restore fails on the card and the user is told.
        d.start(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        failed = d.wait_for("the failure is told", lambda: services.notified(FAILED))
        check(d.window() is None, "the window stays in the tray meanwhile")
        services.invoke(failed[0], "default")
        d.wait_for("a click on the notification shows the window", d.window)
        d.wait_loaded()
        d.open_page("Setting")
        d.wait_for("the switch shows off", lambda: not checked() and knob(False))
        shown("autostart-off-dark")
        for written in (True, False):
            d.click(*AUTOSTART)
            d.wait_for("the switch %s the entry" % ("writes" if written else "removes"),
                       lambda: os.path.exists(entry) == written and checked() == written and knob(written))

        # Tab reaches the switch, its focus ring shows just left of it, and Space turns it on.
        def focused():
            d.keys("Tab")
            return d.find(*AUTOSTART).getState().contains(d.atspi.STATE_FOCUSED)
        d.wait_for("Tab reaches the switch", focused)
        box = d.find(*AUTOSTART).queryComponent().getExtents(d.atspi.DESKTOP_COORDS)
        w, _, rgb = d.grab()
        ring = rgb[((box.y + box.height // 2) * w + box.x - 2) * 3:][:3]
        check(min(ring) > 200, "the focus ring shows: %s" % ring.hex())
        d.keys("space")
        d.wait_for("Space writes the entry", lambda: os.path.exists(entry) and checked() and knob(True))
        shown("autostart-on-dark")
        check(subprocess.run(["desktop-file-validate", entry], capture_output=True).stdout == b"",
              "the entry is valid")
        with open(entry) as f:
            check("Name=Tarvell Vorn\nIcon=com.tarvell.vorn\nExec=\"%s\"\n" % program in f.read(),
                  "the entry starts this program")

        # The light theme, by the pointer.
        d.click("check box", "Light theme")
        def light():
            w, _, rgb = d.grab(window=d.window())
            corner = rgb[(20 * w + 20) * 3:][:3]
            return (max(corner) + min(corner)) / 2 > 128
        d.wait_for("the light theme", light)
        shown("autostart-on-light")

        # Closed twice, the entry removed by hand in between: one hint, and
        # the switch reads the entry afresh.
        bus = dbus.bus.BusConnection(d.env["DBUS_SESSION_BUS_ADDRESS"])
        item = [line.split()[1] for line in services.said() if line.startswith("registered ")][-1]
        for close in range(2):
            subprocess.run([close_window, d.window()], env=d.env, check=True)
            d.wait_for("closing puts the window away", lambda: d.window() is None)
            title = bus.get_object(item, "/StatusNotifierItem").Get(
                "org.kde.StatusNotifierItem", "Title", dbus_interface=dbus.PROPERTIES_IFACE)
            check(title == "Tarvell Vorn", "the tray item stays: %s" % title)
            # Whatever the program sent before its answer has been served once this is.
            bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications").GetCapabilities(
                dbus_interface="org.freedesktop.Notifications")
            check(len(services.notified(TRAY_HINT)) == 1, "the tray hint is shown once")
            if close == 0:
                os.remove(entry)
                subprocess.run([program], env=d.env, timeout=30)
                d.wait_for("a second start shows the window", d.window)
                d.wait_for("the switch reads the entry afresh", lambda: not checked() and knob(False))
                shown("autostart-off-light")


if __name__ == "__main__":
    main(*sys.argv[1:5])
