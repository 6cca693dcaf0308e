"""The program on a desktop of the test's own: virtual X server, private session bus and home."""

import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

# A guard against a hang, never a pause: every wait ends as soon as its event is seen.
GUARD_S = 120
# The loading screen's colour, in the window's top-left corner until it ends.
LOADING = bytes.fromhex("162955")

class Desktop:
    def __init__(self, program, screen="1600x900x24"):
        self.program = program
        self.dir = tempfile.mkdtemp(prefix="tv-desktop-")
        self.procs = []
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("DBUS_", "QT_", "DISPLAY", "WAYLAND", "XDG_"))}
        for name in ("home", "run", "tmp"):
            os.makedirs(self.path(name), mode=0o700)
        self.env.update(HOME=self.path("home"), XDG_RUNTIME_DIR=self.path("run"),
                        TMPDIR=self.path("tmp"), LIBGL_ALWAYS_SOFTWARE="1",
                        CTL_SYSFS_ROOT=self.path("run/sysfs"),
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/tarvell-test-no-system-bus")
        xvfb = self.spawn(["Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"])
        self.env["DISPLAY"] = ":" + self.read_line(xvfb).strip()
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                          "--address=unix:dir=" + self.path("run")])
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.read_line(bus).strip()
        self.out = b""

    def start_card(self, card_sim, faults=()):
        """The simulated card, found by the program through the private runtime folder.
        Each card appends to the same transfer log."""
        sim = self.spawn([card_sim, "--runtime-dir", self.path("run"), "--sysfs",
                          self.path("run/sysfs"), "--log", self.path("transfers.log")]
                         + [a for f in faults for a in ("--fault", f)])
        while "serving" not in self.read_line(sim):
            pass
        return sim

    def grab(self, picture=None, window="root"):
        """A look at the whole screen (or one window) as (width, height, rgb bytes), kept as a
        picture when named. The look itself is a BMP: a PNG of the window takes seconds to compress."""
        shot = self.path("look.bmp")
        subprocess.run(["import", "-window", window, shot], env=self.env, check=True)
        if picture:
            subprocess.run(["convert", shot, picture], check=True)
        raw = subprocess.run(["convert", shot, "-depth", "8", "rgb:-"], capture_output=True).stdout
        w, h = subprocess.run(["identify", "-format", "%w %h", shot], capture_output=True).stdout.split()
        return int(w), int(h), raw

    def wait_loaded(self):
        self.wait_for("the loading screen ends", lambda: self.grab()[2][:3] != LOADING)

    def wait_switch_at_rest(self):
        """Until the page switch's marker has come to rest: two looks in a row agree."""
        looks = [None]

        def at_rest():
            w, h, rgb = self.grab()
            switch = b"".join(rgb[y * w * 3:(y * w + w * 15 // 100) * 3] for y in range(0, h, 4))
            same, looks[0] = switch == looks[0], switch
            return same
        self.wait_for("the page switch comes to rest", at_rest)

    def transfers(self):
        with open(self.path("transfers.log")) as log:
            return log.read().splitlines()

    def path(self, name):
        return os.path.join(self.dir, name)

    def spawn(self, args, env=None, **kw):
        # Unbuffered: a buffered reader would take a second line along with the
        # first, out of select()'s sight, and the wait for it would never end.
        p = subprocess.Popen(args, stdout=subprocess.PIPE, stdin=subprocess.PIPE, bufsize=0,
                             env=env or self.env, **kw)
        self.procs.append(p)
        return p

    @staticmethod
    def read_line(proc):
        ready, _, _ = select.select([proc.stdout], [], [], GUARD_S)
        if not ready:
            raise AssertionError("%s said nothing" % proc.args[0])
        return proc.stdout.readline().decode()

    def start(self, **env):
        self.out = b""
        self.app = self.spawn([self.program], env=dict(self.env, **env), stderr=subprocess.STDOUT)
        os.set_blocking(self.app.stdout.fileno(), False)
        return self.app

    def drain(self):
        """Takes what the program has said so far: a full pipe would stop it."""
        if getattr(self, "app", None):
            try:
                self.out += self.app.stdout.read() or b""
            except OSError:
                pass

    def wait_log(self, text):
        """Waits until the program's output holds `text`."""
        end = time.monotonic() + GUARD_S
        while text.encode() not in self.out:
            ready, _, _ = select.select([self.app.stdout], [], [], max(0, end - time.monotonic()))
            chunk = self.app.stdout.read() if ready else None
            if not ready or chunk == b"":
                raise AssertionError("no %r in the log:\n%s" % (text, self.out[-3000:].decode()))
            self.out += chunk or b""

    def wait_for(self, what, check):
        """Polls `check` (a look at the X server or the bus) until it holds; gives what it found."""
        end = time.monotonic() + GUARD_S
        while not (found := check()):
            self.drain()
            if time.monotonic() > end:
                raise AssertionError(what)
            time.sleep(0.1)
        return found

    def xdotool(self, *args):
        r = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, text=True)
        return r.stdout.split()

    def window(self):
        # Our own process's window only, whatever else the display shows. A
        # search that meets a window being destroyed under it stops with an X
        # error and finds nothing; that says nothing of ours, so look again
        # (a few times: windows do not vanish for ever).
        for _ in range(5):
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.app.pid),
                                "--name", "^TARVELL VORN$"], env=self.env, capture_output=True, text=True)
            if "X Error" not in r.stderr:
                break
        # xdotool matches names without regard to case, and an XEmbed tray
        # icon is a window of ours named "Tarvell Vorn": keep the exact title.
        ids = [i for i in r.stdout.split() if self.xdotool("getwindowname", i) == ["TARVELL", "VORN"]]
        return ids[0] if ids else None

    def accessibility_bus(self):
        """The launcher owns org.a11y.Bus on the session bus and starts a bus of
        its own for the registry. Programs are started only once the registry
        answers there: a program that finds no registry at its start never
        joins the desktop's tree. Gives pyatspi, imported against these buses."""
        import dbus
        self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        session = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        self.wait_for("the accessibility bus is launched", lambda: session.name_has_owner("org.a11y.Bus"))
        address = str(session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(dbus_interface="org.a11y.Bus"))
        a11y = dbus.bus.BusConnection(address)
        # The registry starts on its bus's first call for it.
        a11y.start_service_by_name("org.a11y.atspi.Registry")
        self.wait_for("the registry is up", lambda: a11y.name_has_owner("org.a11y.atspi.Registry"))
        # As an X11 session's launcher does: the bus's address on the root window.
        # Qt 5 reads it there at once; asked over the session bus instead, its
        # answer can come after Qt has already tried to register.
        subprocess.run(["xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address],
                       env=self.env, check=True)
        # pyatspi reads both from the environment when it is first imported.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["AT_SPI_BUS_ADDRESS"] = address
        import pyatspi
        self.atspi = pyatspi
        return pyatspi

    def start_shown(self, card_sim, faults=()):
        """The program on a card of its own, seen by AT-SPI, its window up and
        loaded; gives the card's process. With no tray the window comes up by itself."""
        card = self.start_card(card_sim, faults)
        self.start(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        self.wait_log("EnumerateDevices returned 1 adapters")
        self.wait_for("the window is shown", self.window)
        self.wait_loaded()
        return card

    def showing(self, node):
        """The controls on screen below `node`, in reading order."""
        for child in node:
            if child is None or not child.getState().contains(self.atspi.STATE_SHOWING):
                continue
            yield child
            yield from self.showing(child)

    def controls(self):
        """The program's controls on screen, once it has joined the tree."""
        def find():
            for app in self.atspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == self.app.pid:
                    return list(self.showing(app))
            return None
        return self.wait_for("the program shows its controls to AT-SPI", find)

    def find(self, role, name, showing=True):
        """The program's control of that role and name once it is on screen (or, with
        showing False, once it is gone)."""
        def seen():
            return next((n for n in self.controls() if (n.getRoleName(), n.name) == (role, name)), None)
        if showing:
            return self.wait_for("%s %r is shown" % (role, name), seen)
        self.wait_for("%s %r is gone" % (role, name), lambda: seen() is None)

    def click(self, role, name, dx=None, dy=None):
        """A click on the control, at (dx, dy) from its top-left corner or else its centre."""
        box = self.find(role, name).queryComponent().getExtents(self.atspi.DESKTOP_COORDS)
        x = box.x + (box.width // 2 if dx is None else dx)
        y = box.y + (box.height // 2 if dy is None else dy)
        # Hover colours must not end up in pictures.
        self.xdotool("mousemove", str(x), str(y), "click", "1", "mousemove", "--window", self.window(), "4", "4")

    def open_page(self, name):
        self.click("page tab", name)
        self.wait_log("Page " + name)
        self.wait_switch_at_rest()

    def keys(self, *names):
        self.xdotool("windowfocus", "--sync", self.window(), "key", "--delay", "40", *names)

    def fd_count(self):
        return len(os.listdir("/proc/%d/fd" % self.app.pid))

    def __enter__(self):
        return self

    def __exit__(self, failure, *_):
        # A failed look at the screen says little alone: the program's own words go with it.
        if failure and getattr(self, "app", None):
            self.drain()
            sys.stderr.write("the program said:\n%s\n" % self.out[-4000:].decode(errors="replace"))
        self.close()

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

def check(cond, what):
    if not cond:
        raise AssertionError(what)
    print("ok:", what)
    sys.stdout.flush()
