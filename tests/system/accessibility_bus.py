#!/usr/bin/python3
"""The real program on a real accessibility bus, read by a client as a screen
reader reads it: Xvfb, a private session bus, the AT-SPI bus launcher and
registry, the program on the simulated device, and pyatspi. It walks the tree
(names, roles, states), lists an update file through "Get Image Info" and makes
an update and a failing one through the bus's own actions, and counts what the
program tells the bus while each update runs.

Usage: accessibility_bus.py PROGRAM SIMULATOR BUILDER
Exit 0 when every check holds, 1 otherwise, 77 (skipped) when a program it
needs is missing and the scripts did not say they installed it."""

import ctypes
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import time

PROGRAM, SIMULATOR, BUILDER = sys.argv[1:4]
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
IMAGES = [("BOOT", 0x40000, 64), ("KERN", 0x80000, 128), ("APP", 0x100000, 96)]  # name, address, KiB
DONE = "Done updating. It is now safe to restart the computer."
# Erase, program a KiB, read a KiB, a word, in microseconds: a run of a few seconds.
TIMING = "40000,8000,1000,0"
failures = []


def check(holds, what):
    print(("ok    " if holds else "FAIL  ") + what, flush=True)
    if not holds:
        failures.append(what)


def wait(condition, seconds, pump=lambda: None):
    """Bounded: polls condition until it holds or the time is up."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        if condition():
            return True
        time.sleep(0.01)
    return False


def missing():
    path = os.environ.get("PATH", "").split(":")
    gone = [name for name in ("Xvfb", "dbus-daemon") if not any(os.access(os.path.join(d, name), os.X_OK) for d in path)]
    gone += [] if os.access(LAUNCHER, os.X_OK) else [LAUNCHER]
    # Looked for, not imported: pyatspi joins an accessibility bus as it is imported.
    gone += [] if importlib.util.find_spec("pyatspi") else ["python3-pyatspi"]
    return gone


def start_desktop(scratch, started):
    """Xvfb, a session bus and the accessibility bus, all private to this test; their processes go to started."""
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    started.append(xvfb)
    display = ":" + xvfb.stdout.readline().decode().strip()
    if display == ":":
        sys.exit("Xvfb did not start")
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
    started.append(bus)
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.mkdir(os.path.join(scratch, "journal"))
    os.environ.update(DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip(),
                      XDG_RUNTIME_DIR=runtime, XDG_STATE_HOME=os.path.join(scratch, "state"),
                      ZARN_JOURNAL_DIR=os.path.join(scratch, "journal"),
                      DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent")
    os.environ.pop("QT_QPA_PLATFORM", None)
    started.append(subprocess.Popen([LAUNCHER, "--launch-immediately"], stderr=subprocess.DEVNULL))
    from gi.repository import Gio, GLib
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = []

    def ask():
        try:
            address.append(session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                             GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000,
                                             None).unpack()[0])
        except GLib.Error:
            pass
        return bool(address)
    if not wait(ask, 60):
        sys.exit("the accessibility bus launcher did not answer")
    # Qt 5.15 takes the bus's address from the X root window at once; asked of
    # the session bus, its answer comes after the bridge has tried to register
    # the program, which it does not try again.
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XDefaultRootWindow.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                    ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
    connection = x11.XOpenDisplay(display.encode())
    value = address[0].encode()
    x11.XChangeProperty(connection, x11.XDefaultRootWindow(connection), x11.XInternAtom(connection, b"AT_SPI_BUS", 0),
                        x11.XInternAtom(connection, b"STRING", 0), 8, 0, value, len(value))
    x11.XCloseDisplay(connection)


def make_update(scratch):
    path, data = os.path.join(scratch, "update.zarnru"), {}
    arguments = [BUILDER, "--quiet"]
    for name, address, kib in IMAGES:
        data[name] = os.urandom(kib * 1024)
        with open(os.path.join(scratch, name), "wb") as part:
            part.write(data[name])
        arguments += ["--image", f"name={name},address={address},file={os.path.join(scratch, name)}"]
    subprocess.run(arguments + [path], check=True)
    return path, data


def flash(path, address, length):
    """The simulated flash's bytes: its file stores each one inverted after a 4 KiB header."""
    with open(path, "rb") as image:
        image.seek(4096 + address)
        return bytes(b ^ 0xFF for b in image.read(length).ljust(length, b"\0"))


class Client:
    def __init__(self):
        import pyatspi
        from gi.repository import Atspi
        # A program busy with a run, sanitized or on a loaded machine, answers late: not a failure.
        Atspi.set_timeout(30000, 60000)
        self.atspi, self.heard = pyatspi, []
        pyatspi.Registry.registerEventListener(
            self.hear, "object:property-change:accessible-name", "object:property-change:accessible-description",
            "object:text-changed", "object:state-changed:showing")

    def pump(self):
        from gi.repository import GLib
        while GLib.MainContext.default().iteration(False):
            pass

    def hear(self, event):
        """Keeps what the main window tells: the rows a dialog builds as they come into view are not the run's."""
        try:
            role, name, top = event.source.getRoleName(), event.source.name, event.source
            while top.parent and top.parent.getRoleName() != "application":
                top = top.parent
            if top.getRoleName() != "frame":
                return
        except Exception:  # noqa: BLE001 - the object, or the program that sent it, is gone
            return
        if event.type.startswith("object:state-changed:showing") and not (event.detail1 and role == "notification"):
            return
        self.heard.append((event.type, role, name))

    def app(self, pid):
        desktop = self.atspi.Registry.getDesktop(0)
        apps = [desktop[i] for i in range(desktop.childCount)]
        return next((a for a in apps if a and a.get_process_id() == pid and a.childCount), None)

    def find(self, root, role, name=None):
        found = root and self.atspi.utils.findDescendant(root, lambda o: o.getRoleName() == role and (
            name is None or (name(o.name) if callable(name) else o.name == name)), True)
        if not found:
            check(False, f"there is a {role} {name if isinstance(name, str) else ''!r}")
        return found

    def window(self, pid, role, name, seconds=30):
        """Bounded: the program's top-level window of that role and name, once it is there."""
        def top():
            app = self.app(pid)
            windows = [app[i] for i in range(app.childCount)] if app else []
            return next((w for w in windows if w.getRoleName() == role and w.name == name
                         and w.getState().contains(self.atspi.STATE_SHOWING)), None)
        found = []
        wait(lambda: found.append(top()) or found[-1] is not None, seconds, self.pump)
        return found[-1] if found else None

    def press(self, button):
        button.queryAction().doAction(0)


def states(accessible, atspi):
    held = accessible.getState()
    return {n for n in ("enabled", "focusable", "read-only")
            if held.contains(getattr(atspi, "STATE_" + n.upper().replace("-", "_")))}


def start_program(scratch, settings):
    environment = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       LD_PRELOAD=SIMULATOR, ZARNSIM_TIMING=TIMING,
                       ZARNSIM_FLASH_FILE=os.path.join(scratch, "flash.bin"), **settings)
    with open(os.path.join(scratch, "program.log"), "ab") as log:
        return subprocess.Popen([PROGRAM], env=environment, stdout=log, stderr=log)


def update(client, pid, main, path):
    """Starts an update through the bus and returns what the main window told the bus until it ended."""
    client.find(main, "text", "ZARN Update Image file:").queryEditableText().setTextContents(path)
    client.press(client.find(main, "push button", "Update"))
    confirmation = client.window(pid, "dialog", "Image info")
    check(confirmation is not None, "the confirmation opens")
    client.pump()
    status = client.atspi.utils.findDescendant(main, lambda o: o.description == "Update status", True)
    client.heard.clear()
    started = time.monotonic()
    client.press(client.find(confirmation, "push button", "OK"))
    # Bounded: the run is over when the status line reads its last line; the notification goes with it.
    told = lambda: any(r == "notification" for _, r, _ in client.heard)  # noqa: E731
    over = wait(lambda: told() or status.name.startswith(("Done updating", "Error")), 120, client.pump)
    check(over and wait(told, 10, client.pump), "the end of the run is told as a notification")
    heard = list(client.heard)
    # Names, descriptions, texts and notifications: all a screen reader could speak unasked.
    limit = 6 * len(IMAGES) + 4
    print(f"      {len(heard)} told in a run of {time.monotonic() - started:.1f} s:", flush=True)
    for event in heard[:40]:
        print("        ", *event, flush=True)
    check(len(heard) <= limit, f"at most {limit} things told during an update of {len(IMAGES)} images")
    return heard


def main():
    gone = missing()
    if gone:
        if os.environ.get("ZARN_TEST_DEPS_INSTALLED") == "1":
            sys.exit(f"missing although scripts/install-deps.sh installed it: {', '.join(gone)}")
        print(f"SKIP: not installed: {', '.join(gone)} (scripts/test.sh installs them)")
        sys.exit(77)
    with tempfile.TemporaryDirectory(prefix="zarn-a11y-") as scratch:
        run(scratch)
    if failures:
        sys.exit(f"{len(failures)} checks failed")


def run(scratch):
    path, data = make_update(scratch)
    helpers, program = [], None
    try:
        start_desktop(scratch, helpers)
        client = Client()
        program = start_program(scratch, {})
        main_window = client.window(program.pid, "frame", "ZARN Update Utility", 60)
        check(main_window is not None, "the window is on the bus")
        if main_window is None:
            return
        find = client.find
        for name, text in [("Current HW timestamp:", "1394614800"), ("Current SW version:", "1.2.34"),
                           ("Current PID version:", "1.3.20")]:
            field = find(main_window, "text", name)
            check(field and states(field, client.atspi) == {"enabled", "focusable", "read-only"}
                  and field.queryText().getText(0, -1) == text, f"{name} reads {text}, read-only and reachable")
        field = find(main_window, "text", "ZARN Update Image file:")
        check(field and "Browse" in field.description and "'...'" not in field.description,
              f"the file field's description names Browse: {field and field.description!r}")
        browse = find(main_window, "push button", "Browse")
        check(browse and browse.description == "Choose the ZARN update image file", "Browse and its description")
        for bar in ("Current progress:", "Total progress:"):
            check(find(main_window, "progress bar", bar) is not None, f"the bar {bar}")
        check(find(main_window, "image", "Velmora ZARN") is not None, "the logo's name")

        find(main_window, "text", "ZARN Update Image file:").queryEditableText().setTextContents(path)
        client.press(find(main_window, "push button", "Get Image Info"))
        listing = client.window(program.pid, "dialog", "Image info")
        rows = [find(listing, "list item", lambda n, i=i: n.startswith(IMAGES[i][0] + ",")) for i in range(3)]
        expected = [f"{n}, Version: 0.0.00, Min HW: 0, Address: {hex(a)}, Size: {k * 1024 + 32}" for n, a, k in IMAGES]
        check([r and r.name for r in rows] == expected, f"the image rows read as one line each: {expected[0]}")
        name = find(listing, "text", "Filename: ")
        check(name and states(name, client.atspi) == {"enabled", "focusable", "read-only"},
              "the dialog's file name is read-only and reachable")
        client.press(find(listing, "push button", "OK"))

        heard = update(client, program.pid, main_window, path)
        stages = {f"{verb} image {i + 1} of 3, {n}" for i, (n, _, _) in enumerate(IMAGES)
                  for verb in ("Erasing", "Writing", "Verifying")}
        allowed = stages | {"Updater initialization...", "Reading back the whole update", DONE}
        lines = [n for _, r, n in heard if r == "label" and n.startswith(("Updater", "Erasing", "Writing",
                                                                          "Verifying", "Reading", "Done"))]
        check(set(lines) <= allowed and lines[-1:] == [DONE], "the status line tells the stages, then the done line")
        check([n for _, r, n in heard if r == "notification"] == [DONE], "the done line is the notification")
        status = find(main_window, "label", DONE)
        check(status and status.description == "Update status", "the status line reads the done line")
        check(find(main_window, "label", lambda n: re.fullmatch(r"Time elapsed: \d\d:\d\d:\d\d", n)) is not None,
              "the elapsed time is read with its caption")
        check(find(main_window, "label", "Time remaining: 00:00:00") is not None, "the time remaining, with caption")
        check(all(flash(os.path.join(scratch, "flash.bin"), a, len(data[n])) == data[n] for n, a, _ in IMAGES),
              "the flash holds the update")
        program.terminate()
        program.wait(60)

        # The 40th write fails, in the first image: the error ends the run.
        os.remove(os.path.join(scratch, "flash.bin"))
        program = start_program(scratch, {"ZARNSIM_FAIL_CALL": "write:40:EIO"})
        main_window = client.window(program.pid, "frame", "ZARN Update Utility", 60)
        check(main_window is not None, "the window is on the bus again")
        if main_window is None:
            return
        heard = update(client, program.pid, main_window, path)
        notices = [n for _, r, n in heard if r == "notification"]
        check(len(notices) == 1 and notices[0].startswith("Error writing Flash memory at 0x49c00") and
              "The update failed" in notices[0], f"the error is the notification: {notices}")
        boot = flash(os.path.join(scratch, "flash.bin"), IMAGES[0][1], 64 * 1024)
        check(boot[:1024] == data["BOOT"][:1024] and boot[-1024:] == b"\xff" * 1024 and all(
            flash(os.path.join(scratch, "flash.bin"), a, k * 1024) == b"\xff" * k * 1024 for _, a, k in IMAGES[1:]),
            "the flash holds the first image's start only")
    finally:
        for process in ([program] if program else []) + helpers[::-1]:
            process.terminate()
            process.wait(30)
        if failures:
            with open(os.path.join(scratch, "program.log"), errors="replace") as log:
                print("program's output:\n" + log.read()[-4000:])


if __name__ == "__main__":
    main()
