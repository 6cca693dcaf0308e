"""Any screen, any scale: on laptop and desktop screens at the usual scale
factors the window and its smallest size stay within the screen, and every
page is shown whole. Pictures of each page land in the given folder."""

import os
import re
import sys

from desktop import Desktop, check

# screen, scale
SCREENS = [("1366x768", "1"), ("1366x768", "1.25"), ("1920x1080", "1.5"),
           ("1920x1080", "2"), ("3840x2160", "2")]
LOADING = bytes.fromhex("162955")

def show_page(d, wid, name, keys):
    d.xdotool("windowfocus", "--sync", wid)
    d.xdotool("key", "--delay", "50", *keys)
    if keys:
        d.wait_log("Page " + name)
    # The page switch's marker has come to rest: two looks in a row agree.
    looks = [None]

    def at_rest():
        w, h, rgb = d.grab()
        switch = b"".join(rgb[y * w * 3:(y * w + w * 15 // 100) * 3] for y in range(0, h, 4))
        same, looks[0] = switch == looks[0], switch
        return same
    d.wait_for("the page switch comes to rest", at_rest)

def main(program, card_sim, pictures):
    os.makedirs(pictures, exist_ok=True)
    table = []
    for screen, scale in SCREENS:
        with Desktop(program, screen=screen + "x24") as d:
            d.start_card(card_sim)
            # Without a tray the window comes up by itself.
            d.start(QT_SCALE_FACTOR=scale)
            d.wait_log("EnumerateDevices returned 1 adapters")
            wid = d.wait_for("the window is shown", d.window)
            geometry = " ".join(d.xdotool("getwindowgeometry", wid))
            w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", geometry).groups())
            sw, sh = map(int, screen.split("x"))
            fits = w <= sw and h <= sh
            table.append((screen, scale, "%dx%d" % (w, h), fits))
            check(fits, "%s at %s: the window of %dx%d fits" % (screen, scale, w, h))
            tag = "%s-%s" % (screen, scale)

            def settled():
                _, _, rgb = d.grab()
                return rgb[:3] != LOADING
            d.wait_for("the loading screen ends", settled)
            # Tab order: Monitor, ARGB, Setting labels first.
            for name, keys in (("ARGB", []), ("Monitor", ["Tab", "Return"]),
                               ("Setting", ["Tab", "Tab", "Return"])):
                show_page(d, wid, name, keys)
                d.grab(os.path.join(pictures, "screen-%s-%s.png" % (tag, name)))
    print("| screen | scale | window (physical px) | fits |\n|---|---|---|---|")
    print("\n".join("| %s | %s | %s | %s |" % (a, b, c, "yes" if f else "NO") for a, b, c, f in table))
    check(all(r[3] for r in table), "the window fits every screen")

if __name__ == "__main__":
    main(*sys.argv[1:4])
