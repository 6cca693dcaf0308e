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
        """The simulated card, found by the program through the private runtime folder."""
        sim = self.spawn([card_sim, "--runtime-dir", self.path("run"), "--sysfs",
                          self.path("run/sysfs"), "--log", self.path("transfers.log")]
                         + [a for f in faults for a in ("--fault", f)])
        while "serving" not in self.read_line(sim):
            pass
        return sim

    def grab(self, picture=None):
        """A look at the whole screen as (width, height, rgb bytes), kept as a picture when named.
        The look itself is a BMP: a PNG of the window takes seconds to compress."""
        shot = self.path("look.bmp")
        subprocess.run(["import", "-window", "root", shot], env=self.env, check=True)
        if picture:
            subprocess.run(["convert", shot, picture], check=True)
        raw = subprocess.run(["convert", shot, "-depth", "8", "rgb:-"], capture_output=True).stdout
        w, h = subprocess.run(["identify", "-format", "%w %h", shot], capture_output=True).stdout.split()
        return int(w), int(h), raw

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
        ids = r.stdout.split()
        return ids[0] if ids else None

    def fd_count(self):
        return len(os.listdir("/proc/%d/fd" % self.app.pid))

    def __enter__(self):
        return self

    def __exit__(self, failure, *_):
        # A failed look at the screen says little alone: the program's own words go with it.
        if failure and getattr(self, "app", None):
            try:
                self.out += self.app.stdout.read() or b""
            except OSError:
                pass
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
