"""A user's path through the finished program: the real program and the
simulated card as separate processes on a virtual X server, driven with the
pointer and the keyboard the way a user drives them. Each control is found
where a screen reader finds it, by its role and name, and what a screen
reader reads of the ARGB page and the driver dialog is printed and checked.
What the clicks send is read back from the card's transfer log; pictures of
the window stay in the given folder, and two are compared with the README's."""

import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "desktop"))
from desktop import Desktop, check  # noqa: E402

README = os.path.join(HERE, "..", "..", "docs", "screenshots")
# The README's pictures are the window at half size in a 256-colour palette.
# A pixel differs from one when a channel is off by more than the palette's
# rounding; what may differ is the text of this machine's own facts and
# readings, a few percent of the window. A wrong theme, a missing panel or a
# moved page is far more.
CHANNEL_SLACK = 48
README_SLACK = 0.03
EFFECT = re.compile(r"^W 02 (0[1-9A-D]) ([0-9A-F]{2})$")
TURBO = ["W 02 80 00", "W 00 D8 10", "W 01 4B"]


def lighting(lines):
    """The first lighting command in `lines`: the first colour block's red
    (the block runs red, blue, green), the effect and its speed byte."""
    red = None
    for line in lines:
        if line.startswith("W 03 20 "):
            red = int(line[8:10], 16)
        m = EFFECT.match(line)
        if m and red is not None:
            return red, m.group(1), m.group(2)
    return None


def in_order(lines, wanted):
    rest = iter(lines)
    return all(w in rest for w in wanted)


def rgb(picture, size=None):
    args = ["convert", picture] + (["-resize", "%dx%d!" % size] if size else []) + ["-depth", "8", "rgb:-"]
    return subprocess.run(args, capture_output=True, check=True).stdout


class User:
    def __init__(self, d, card_sim, pictures):
        self.d, self.card_sim, self.pictures = d, card_sim, pictures
        self.atspi = d.accessibility_bus()
        self.card = None

    def start(self, faults=()):
        """The program afresh on a card of the given faults, past its loading
        screen and the start-up restore."""
        for p in (getattr(self.d, "app", None), self.card):
            if p is not None:
                p.terminate()
                p.wait(30)
        self.card = self.d.start_shown(self.card_sim, faults)
        self.window = self.d.window()
        self.d.wait_log("Saved lighting and fan sent")

    def keep(self, name):
        picture = os.path.join(self.pictures, "page-%s.png" % name)
        self.d.grab(picture, window=self.window)
        return picture

    def like_readme(self, name):
        readme = os.path.join(README, name + ".png")
        w, h = map(int, subprocess.run(["identify", "-format", "%w %h", readme],
                                       capture_output=True, check=True).stdout.split())
        a, b = rgb(self.keep(name), (w, h)), rgb(readme)
        differing = sum(1 for i in range(0, len(b), 3)
                        if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])) > CHANNEL_SLACK)
        share = differing / (w * h)
        check(share <= README_SLACK, "%s: %.4f of the pixels differ from the README's picture" % (name, share))

    def sends(self, what, act):
        """The first lighting command the card sees after `act`."""
        mark = len(self.d.transfers())
        act()
        return self.d.wait_for(what, lambda: lighting(self.d.transfers()[mark:]))

    def fan_turbo(self, act):
        mark = len(self.d.transfers())
        act()
        self.d.wait_for("the fan at 75 % reaches the card", lambda: in_order(self.d.transfers()[mark:], TURBO))


def describe(node, atspi):
    states = node.getState()
    flags = [s for s, flag in (("checked", atspi.STATE_CHECKED), ("focusable", atspi.STATE_FOCUSABLE),
                               ("editable", atspi.STATE_EDITABLE)) if states.contains(flag)]
    try:
        action = node.queryAction()
        flags += ["action " + action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        pass
    return "%s %r%s" % (node.getRoleName(), node.name, " [%s]" % ", ".join(flags) if flags else "")


def read_aloud(d, what, roles=None):
    """Prints what a screen reader reads; gives a check of a control's role, name and state."""
    nodes = d.controls()
    print(what + " as AT-SPI shows it:")
    print("\n".join("  " + describe(n, d.atspi) for n in nodes if roles is None or n.getRoleName() in roles))
    seen = {(n.getRoleName(), n.name): n for n in nodes}

    def has(role, name, checked=None):
        node = seen.get((role, name))
        check(node is not None, "%s %r is shown" % (role, name))
        if checked is not None:
            check(node.getState().contains(d.atspi.STATE_CHECKED) == checked,
                  "%s %r is %s" % (role, name, "checked" if checked else "not checked"))
        return node
    return nodes, has


def clicks_reach_the_card(u):
    u.start()
    nodes, has = read_aloud(u.d, "The ARGB page")
    for page, current in (("Monitor", False), ("ARGB", True), ("Setting", False)):
        has("page tab", page, current)
    has("page tab list", "Pages")
    has("check box", "GPU RGB", True)
    has("check box", "Sync Motherboard", False)
    has("push button", "Default Mode")
    has("radio button", "Rainbow", True)
    effects = [n for n in nodes if n.getRoleName() == "radio button"]
    check(len(effects) == 13, "thirteen effects are radio buttons (%d)" % len(effects))
    has("slider", "Speed")
    check(has("text", "Hex colour").getState().contains(u.atspi.STATE_EDITABLE), "the hex field is editable")
    action = has("radio button", "Static", False).queryAction()
    check(action.nActions > 0, "an effect can be worked: %s" % action.getName(0))
    u.like_readme("argb-dark")
    red, effect, speed = u.sends("Static reaches the card", lambda: u.d.click("radio button", "Static"))
    # The colour and speed restored at start travel with the new effect.
    check((red, effect, speed) == (0xFB, "01", "FE"), "Static in the saved colour and speed: %r" % ((red, effect, speed),))
    # A hue a little short of green, then a point high on the square's right:
    # about 162 red; neighbouring pixels move it by a few.
    u.sends("the hue reaches the card", lambda: u.d.click("slider", "Hue", dy=30))
    red, _, _ = u.sends("the colour reaches the card", lambda: u.d.click("color chooser", "Colour", 100, 20))
    check(abs(red - 162) <= 8, "the picked colour's red is about 162: %d" % red)

    u.d.open_page("Monitor")

    def turbo():
        u.d.click("radio button", "Turbo")
        u.d.click("push button", "Apply")
    u.fan_turbo(turbo)
    u.like_readme("monitor-dark")
    # The readings (clock, load, temperatures) change as telemetry arrives.
    first = [n.name for n in u.d.controls()]
    u.d.wait_for("the readings move", lambda: [n.name for n in u.d.controls()] != first)


def keyboard_only_path(u):
    """The same choices with the keyboard alone. The page switch is read
    first, then the page; Shift+Tab from the first label wraps round to the
    last control, the fan's Apply."""
    u.start()
    # Monitor, ARGB, Setting, GPU RGB, Default Mode, Sync Motherboard, Color
    # Cycling; one step right is Static.
    _, effect, _ = u.sends("Static by the keyboard", lambda: u.d.keys(*["Tab"] * 7, "Right", "space"))
    check(effect == "01", "Static by the keyboard: %s" % effect)
    back = ["shift+Tab"] * 7
    u.fan_turbo(lambda: u.d.keys(*back, "Return", "Tab", "Tab", "Tab", "Right", "Right", "Right", "space",
                               *back, "Return"))


def failed_fan_apply_shows_the_notice(u):
    """Every request fails on the card: the fan Apply says so and can be left."""
    u.start(["error=31"])
    u.d.open_page("Monitor")
    u.d.click("radio button", "Turbo")
    u.d.click("push button", "Apply")
    u.d.find("alert", "Action Failed Multiple Times")
    u.d.wait_log("I2C_Fan_Control fail !")
    u.keep("fan-failed-dark")
    u.d.click("push button", "Close")
    u.d.find("alert", "Action Failed Multiple Times", showing=False)


def driver_dialog_closes_and_the_card_is_tried_again(u):
    """The card vanishes during the start-up restore: the driver dialog comes
    up, closes, and once the card is back a lighting change reaches it."""
    u.start(["vanish-after=1"])
    u.d.find("dialog", "Control Driver Execution Error")
    _, has = read_aloud(u.d, "The driver dialog", ("dialog", "push button", "link"))
    for role, name in (("push button", "Re-install Driver"), ("link", "Intel's website"), ("link", "contact us")):
        has(role, name)
    u.keep("driver-dialog-dark")
    u.d.click("push button", "Close")
    u.d.find("dialog", "Control Driver Execution Error", showing=False)
    u.card.terminate()
    u.card.wait(30)
    u.card = u.d.start_card(u.card_sim)
    _, effect, _ = u.sends("Static reaches the card once it is back", lambda: u.d.click("radio button", "Static"))
    check(effect == "01", "Static on the card that came back: %s" % effect)


def main(program, card_sim, pictures):
    os.makedirs(pictures, exist_ok=True)
    with Desktop(program) as d:
        u = User(d, card_sim, pictures)
        for path in (clicks_reach_the_card, keyboard_only_path, failed_fan_apply_shows_the_notice,
                     driver_dialog_closes_and_the_card_is_tried_again):
            print("--", path.__name__)
            path(u)


if __name__ == "__main__":
    main(*sys.argv[1:4])
