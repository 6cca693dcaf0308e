"""What a screen reader sees: the program on a desktop of the test's own with
its accessibility bus (at-spi2-core), read back through AT-SPI as Orca reads
it. Prints the ARGB page's tree, then checks the roles, names, states and
actions of that page's controls and of the driver dialog."""

import os
import subprocess
import sys

import dbus

from desktop import Desktop, check

LOADING = bytes.fromhex("162955")


def start_accessibility_bus(d):
    """The launcher owns org.a11y.Bus on the session bus and starts a bus of
    its own for the registry. The program is started only once the
    registry answers there: a program that finds no registry at its start
    never joins the desktop's tree."""
    d.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    session = dbus.bus.BusConnection(d.env["DBUS_SESSION_BUS_ADDRESS"])
    d.wait_for("the accessibility bus is launched", lambda: session.name_has_owner("org.a11y.Bus"))
    address = str(session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(dbus_interface="org.a11y.Bus"))
    a11y = dbus.bus.BusConnection(address)
    # The registry starts on its bus's first call for it.
    a11y.start_service_by_name("org.a11y.atspi.Registry")
    d.wait_for("the registry is up", lambda: a11y.name_has_owner("org.a11y.atspi.Registry"))
    # As an X11 session's launcher does: the bus's address on the root window.
    # Qt 5 reads it there at once; asked over the session bus instead, its
    # answer can come after Qt has already tried to register.
    subprocess.run(["xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address],
                   env=d.env, check=True)
    # pyatspi reads both from the environment when it is first imported.
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = d.env["DBUS_SESSION_BUS_ADDRESS"]
    os.environ["AT_SPI_BUS_ADDRESS"] = address


def start_program(d, card_sim, faults=()):
    """The program on a card of its own; gives the card's process."""
    card = d.start_card(card_sim, faults)
    # With no tray the window comes up by itself.
    d.start(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    d.wait_log("EnumerateDevices returned 1 adapters")
    d.wait_for("the window is shown", d.window)
    d.wait_for("the loading screen ends", lambda: d.grab()[2][:3] != LOADING)
    return card


def showing(node, pyatspi):
    """The controls on screen below `node`, in reading order."""
    for child in node:
        if child is None or not child.getState().contains(pyatspi.STATE_SHOWING):
            continue
        yield child
        yield from showing(child, pyatspi)


def describe(node, pyatspi):
    states = node.getState()
    flags = [s for s, flag in (("checked", pyatspi.STATE_CHECKED), ("focusable", pyatspi.STATE_FOCUSABLE),
                               ("editable", pyatspi.STATE_EDITABLE)) if states.contains(flag)]
    try:
        action = node.queryAction()
        flags += ["action " + action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        pass
    return "%s %r%s" % (node.getRoleName(), node.name, " [%s]" % ", ".join(flags) if flags else "")


def application(d, pyatspi, wanted):
    """Our application's node, once `wanted` (a role name and a name) shows in its tree."""
    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.get_process_id() == d.app.pid:
                nodes = list(showing(app, pyatspi))
                if any((n.getRoleName(), n.name) == wanted for n in nodes):
                    return app, nodes
        return None
    return d.wait_for("the program shows %s %r to AT-SPI" % wanted, find)


def main(program, card_sim):
    with Desktop(program) as d:
        start_accessibility_bus(d)
        import pyatspi

        card = start_program(d, card_sim)
        _, nodes = application(d, pyatspi, ("page tab list", "Pages"))
        print("The ARGB page as AT-SPI shows it:")
        for n in nodes:
            print("  " + describe(n, pyatspi))
        seen = {(n.getRoleName(), n.name): n for n in nodes}

        def has(role, name, checked=None):
            node = seen.get((role, name))
            check(node is not None, "%s %r is shown" % (role, name))
            if checked is not None:
                check(node.getState().contains(pyatspi.STATE_CHECKED) == checked,
                      "%s %r is %s" % (role, name, "checked" if checked else "not checked"))
            return node

        for page, current in (("Monitor", False), ("ARGB", True), ("Setting", False)):
            has("page tab", page, current)
        has("check box", "GPU RGB", True)
        has("check box", "Sync Motherboard", False)
        has("push button", "Default Mode")
        has("radio button", "Rainbow", True)
        effects = [n for n in nodes if n.getRoleName() == "radio button"]
        check(len(effects) == 13, "thirteen effects are radio buttons (%d)" % len(effects))
        has("slider", "Speed")
        has("slider", "Hue")
        has("color chooser", "Colour")
        hex_field = has("text", "Hex colour")
        check(hex_field.getState().contains(pyatspi.STATE_EDITABLE), "the hex field is editable")
        static = has("radio button", "Static", False)
        action = static.queryAction()
        check(action.nActions > 0, "an effect can be worked: %s" % action.getName(0))

        for p in (d.app, card):
            p.terminate()
            p.wait(30)
        start_program(d, card_sim, ["vanish-after=1"])
        _, nodes = application(d, pyatspi, ("dialog", "Control Driver Execution Error"))
        print("The driver dialog as AT-SPI shows it:")
        for n in nodes:
            if n.getRoleName() in ("dialog", "push button", "link"):
                print("  " + describe(n, pyatspi))
        seen = {(n.getRoleName(), n.name): n for n in nodes}
        for button in ("Close", "Re-install Driver"):
            has("push button", button)
        for link in ("Intel's website", "contact us"):
            has("link", link)

if __name__ == "__main__":
    main(*sys.argv[1:])
