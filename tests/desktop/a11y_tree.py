"""What a screen reader finds: the program with AT-SPI on a private bus. The
test prints the tree of the lighting page, checks the roles, names and states
of its controls, works the fan buttons through their accessible actions until
a failing card brings up the notice, and checks the notice and its button."""

import os
import sys

from desktop import Desktop, check

EFFECTS = ["Color Cycling", "Static", "Rainbow", "Wave", "Glowing Yoyo", "Starry Night", "Comet",
           "Breath", "Flash", "Strobing", "Flash Rainbow", "Breath Rainbow", "Comet Rainbow"]


def nodes(acc, depth=0):
    """Every object that is shown, with its depth, in reading order."""
    import pyatspi
    if acc is None or not acc.getState().contains(pyatspi.STATE_SHOWING):
        return
    yield depth, acc
    for i in range(acc.childCount):
        yield from nodes(acc.getChildAtIndex(i), depth + 1)


def describe(acc):
    import pyatspi
    states = acc.getState()
    marks = [n for n, s in (("checked", pyatspi.STATE_CHECKED), ("focusable", pyatspi.STATE_FOCUSABLE),
                            ("editable", pyatspi.STATE_EDITABLE)) if states.contains(s)]
    text = "%s %r" % (acc.getRoleName(), acc.name)
    if acc.description:
        text += " (%s)" % acc.description
    return text + ("  [%s]" % ", ".join(marks) if marks else "")


def controls(app):
    # What the program announced since the last look (new objects, a new
    # application) comes in through the main loop's queue.
    from gi.repository import GLib
    while GLib.MainContext.default().iteration(False):
        pass
    return {(acc.getRoleName(), acc.name): acc for _, acc in nodes(app)}


def press(acc):
    actions = acc.queryAction()
    names = [actions.getName(i).lower() for i in range(actions.nActions)]
    check("press" in names or "toggle" in names, "%r offers an action: %s" % (acc.name, names))
    actions.doAction(names.index("press") if "press" in names else names.index("toggle"))


def main(program, card_sim):
    d = Desktop(program)
    try:
        # Every card request fails: the fan's Apply brings up the notice.
        d.start_card(card_sim, ["error=31"])
        launcher = d.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        os.environ.update(DISPLAY=d.env["DISPLAY"],
                          DBUS_SESSION_BUS_ADDRESS=d.env["DBUS_SESSION_BUS_ADDRESS"])
        import dbus
        bus = dbus.bus.BusConnection(d.env["DBUS_SESSION_BUS_ADDRESS"])
        d.wait_for("the AT-SPI bus is up", lambda: bus.name_has_owner("org.a11y.Bus"))
        status = bus.get_object("org.a11y.Bus", "/org/a11y/bus")
        a11y = dbus.bus.BusConnection(str(status.GetAddress(dbus_interface="org.a11y.Bus")))
        registry = a11y.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
        d.start(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        d.wait_log("EnumerateDevices returned 1 adapters")
        d.wait_for("the window is shown", d.window)
        # A screen reader starts, as the desktop says: Qt joins the registry
        # when it hears of it.
        status.Set("org.a11y.Status", "IsEnabled", dbus.Boolean(True, variant_level=1),
                   dbus_interface=dbus.PROPERTIES_IFACE)
        # The reader's view of the desktop is read once, when it first looks:
        # it looks once the program has told the registry it is there.
        d.wait_for("the program registers with AT-SPI",
                   lambda: registry.GetChildren(dbus_interface="org.a11y.atspi.Accessible"))

        import pyatspi
        desktop = pyatspi.Registry.getDesktop(0)
        apps = lambda: [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
        app = None

        def found():
            nonlocal app
            controls(None)
            app = next((a for a in apps() if a and a.name == "tarvell-vorn"), None)
            return app is not None and ("radio button", "Static") in controls(app)
        d.wait_for("the lighting page reaches AT-SPI", found)
        print("AT-SPI tree of the lighting page:")
        for depth, acc in nodes(app):
            print("  " * depth + describe(acc))

        seen = controls(app)
        wanted = [("page tab list", "Pages"), ("page tab", "Monitor"), ("page tab", "ARGB"),
                  ("page tab", "Setting"), ("check box", "GPU RGB"), ("check box", "Sync Motherboard"),
                  ("push button", "Default Mode"), ("slider", "Speed"), ("text", "Hex colour")]
        wanted += [("radio button", e) for e in EFFECTS]
        missing = [w for w in wanted if w not in seen]
        check(not missing, "every control of the lighting page has its role and name: missing %s" % missing)
        checked = lambda key: seen[key].getState().contains(pyatspi.STATE_CHECKED)
        check([e for e in EFFECTS if checked(("radio button", e))] == ["Rainbow"],
              "the restored effect is the one checked radio button")
        check(checked(("page tab", "ARGB")) and not checked(("page tab", "Monitor")), "ARGB is the current page")
        check(checked(("check box", "GPU RGB")) and not checked(("check box", "Sync Motherboard")),
              "the switches tell their state")
        check(seen[("slider", "Speed")].description == "Fast", "the slider says its speed in words")

        press(seen[("page tab", "Monitor")])
        d.wait_for("the Monitor page opens", lambda: ("radio button", "Turbo") in controls(app))
        readings = [acc.name for _, acc in nodes(app) if acc.getRoleName() == "label"
                    and acc.name.startswith("GPU temperature ")]
        check(len(readings) == 1 and readings[0].endswith(" degrees"), "readings carry their unit: %s" % readings)
        press(controls(app)[("radio button", "Turbo")])
        press(controls(app)[("push button", "Apply")])
        d.wait_for("the failure notice comes up",
                   lambda: ("alert", "Action Failed Multiple Times") in controls(app))
        notice = controls(app)[("alert", "Action Failed Multiple Times")]
        print("AT-SPI tree of the notice:")
        for depth, acc in nodes(notice):
            print("  " * depth + describe(acc))
        check(("push button", "Close") in controls(notice), "the notice has its Close button")
        d.xdotool("windowfocus", "--sync", d.window(), "key", "Escape")
        d.wait_for("Esc closes the notice", lambda: ("alert", "Action Failed Multiple Times") not in controls(app))
    finally:
        d.close()


if __name__ == "__main__":
    main(*sys.argv[1:3])
