"""What a screen reader sees: the program on a desktop of the test's own with
its accessibility bus (at-spi2-core), read back through AT-SPI as Orca reads
it. Prints the ARGB page's tree, then checks the roles, names, states and
actions of that page's controls and of the driver dialog."""

import sys

from desktop import Desktop, check


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


def main(program, card_sim):
    with Desktop(program) as d:
        pyatspi = d.accessibility_bus()
        card = d.start_shown(card_sim)
        nodes = d.controls(("page tab list", "Pages"))
        seen = {(n.getRoleName(), n.name): n for n in nodes}
        print("The ARGB page as AT-SPI shows it:")
        for n in nodes:
            print("  " + describe(n, pyatspi))

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
        d.start_shown(card_sim, ["vanish-after=1"])
        nodes = d.controls(("dialog", "Control Driver Execution Error"))
        print("The driver dialog as AT-SPI shows it:")
        for n in nodes:
            if n.getRoleName() in ("dialog", "push button", "link"):
                print("  " + describe(n, pyatspi))
        seen = {(n.getRoleName(), n.name): n for n in nodes}
        for button in ("Close", "Re-install Driver"):
            has("push button", button)

if __name__ == "__main__":
    main(*sys.argv[1:])
