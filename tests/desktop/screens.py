"""Any screen, any scale: on laptop and desktop screens at the usual scale
factors the window and its smallest size stay within the screen, and every
page is shown whole. Then the no-device screen without a card, and the dark
and light themes on one. Pictures of each land in the given folder."""

import json
import os
import re
import subprocess
import sys

from desktop import Desktop, check

# screen, scale
SCREENS = [("1366x768", "1"), ("1366x768", "1.25"), ("1920x1080", "1.5"),
           ("1920x1080", "2"), ("3840x2160", "2")]

def show_page(d, wid, name, keys):
    d.xdotool("windowfocus", "--sync", wid)
    d.xdotool("key", "--delay", "50", *keys)
    if keys:
        d.wait_log("Page " + name)
    d.wait_switch_at_rest()

def magick(*args):
    return subprocess.run(args, capture_output=True, text=True)

def shoot(d, pictures, name, ready):
    """The program started afresh until `ready` is in its log and its window is loaded."""
    if getattr(d, "app", None):
        d.app.terminate()
        d.app.wait(30)
    d.start()
    d.wait_log(ready)
    d.wait_for("the window is shown", d.window)
    d.wait_loaded()
    d.wait_switch_at_rest()
    picture = os.path.join(pictures, "screenshot-%s.png" % name)
    d.grab(picture, window=d.window())
    return picture

def themes_and_no_device(program, card_sim, pictures):
    with Desktop(program) as d:
        no_device = shoot(d, pictures, "no-device", "EnumerateDevices returned 0 adapters")
        d.start_card(card_sim)
        dark = shoot(d, pictures, "dark", "Saved lighting and fan sent")
        settings = d.path("home/.local/share/tarvell-vorn/userData.json")
        os.makedirs(os.path.dirname(settings), exist_ok=True)
        with open(settings, "w") as f:
            json.dump([{"RGB": "ON", "RGBControlMode": "MCU", "argb_effect": 5, "r_hex": "fb", "g_hex": "00",
                        "b_hex": "00", "speed": "FE", "displayMode": 1}], f)
        light = shoot(d, pictures, "light", "Saved lighting and fan sent")
        mean = {p: float(magick("convert", p, "-colorspace", "Gray", "-format", "%[fx:mean]", "info:").stdout)
                for p in (dark, light)}
        check(mean[light] > mean[dark] + 0.2, "the light theme (%.2f) is clearly lighter than the dark (%.2f)"
              % (mean[light], mean[dark]))
        differing = magick("compare", "-metric", "AE", "-fuzz", "10%", no_device, dark, "null:").stderr.split()[0]
        check(float(differing) > 20000, "the card's pages differ from the no-device screen in %s pixels" % differing)

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
            d.wait_loaded()
            # Tab order: Monitor, ARGB, Setting labels first.
            for name, keys in (("ARGB", []), ("Monitor", ["Tab", "Return"]),
                               ("Setting", ["Tab", "Tab", "Return"])):
                show_page(d, wid, name, keys)
                d.grab(os.path.join(pictures, "screen-%s-%s.png" % (tag, name)))
    print("| screen | scale | window (physical px) | fits |\n|---|---|---|---|")
    print("\n".join("| %s | %s | %s | %s |" % (a, b, c, "yes" if f else "NO") for a, b, c, f in table))
    check(all(r[3] for r in table), "the window fits every screen")
    themes_and_no_device(program, card_sim, pictures)

if __name__ == "__main__":
    main(*sys.argv[1:4])
