"""Drives Kestrova as a Linux desktop does, inside run_desktop_session.sh: the StatusNotifierItem
and its com.canonical.dbusmenu menu (GetLayout, AboutToShow, Event "clicked"),
org.freedesktop.Notifications, the X11 clipboard (xclip) and the keyboard (xdotool).
"""
import json
import os
import plistlib
import re
import signal
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = sys.executable
# Sanitized builds start and run several times slower; deadlines grow with them.
SLOWDOWN = float(os.environ.get("KESTROVA_E2E_SLOWDOWN", "1"))

WATCHER = "org.kde.StatusNotifierWatcher"
PROPERTIES = "org.freedesktop.DBus.Properties"
DBUSMENU = "com.canonical.dbusmenu"
SNI = "org.kde.StatusNotifierItem"


def wait_for(condition, deadline, what):
    """Polls condition until it answers something true; fails with `what` at the deadline."""
    end = time.monotonic() + deadline * SLOWDOWN
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"gave up after {deadline * SLOWDOWN:.1f} s waiting for {what}")
        time.sleep(0.05)


class Helper:
    """A fake desktop service (fake_desktop_services.py), up once it has said READY."""

    def __init__(self, *args, what):
        self.process = subprocess.Popen(
            [PYTHON, os.path.join(HERE, "fake_desktop_services.py"), *args],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        end = time.monotonic() + 10 * SLOWDOWN
        while time.monotonic() < end:
            line = self.process.stdout.readline()
            if line.strip() == "READY":
                return
            if not line and self.process.poll() is not None:
                break
        raise AssertionError(f"{what} did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


class Panel(Helper):
    """The panel's StatusNotifierWatcher."""

    def __init__(self, host_registered=True):
        super().__init__("watcher", *([] if host_registered else ["--no-host"]),
                         what="the panel's watcher")

    def register_host(self):
        self.process.send_signal(signal.SIGUSR1)


class NotificationServer(Helper):
    """The notification server; every Notify lands in a file."""

    def __init__(self, record):
        self.record = record
        open(record, "w").close()
        super().__init__("notifications", "--record", record, what="the notification server")

    def received(self):
        with open(self.record, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


def bus():
    return dbus.SessionBus()


def read_text(path):
    """The file's text, or "" while it does not exist."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def registered_items():
    try:
        watcher = bus().get_object(WATCHER, "/StatusNotifierWatcher")
        return [str(i) for i in watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                            dbus_interface=PROPERTIES)]
    except dbus.DBusException:
        return []


def owner_pid(service):
    try:
        return int(bus().call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                       "s", [service]))
    except dbus.DBusException:
        return None


# ---- the menu, as a panel reads it -------------------------------------------------------------

def shown(label):
    """The text a panel shows for a dbusmenu label: "__" is one "_", a lone "_" marks the
    access key and is not shown."""
    return re.sub("_(_?)", r"\1", label)


class Item:
    """One dbusmenu item as GetLayout gives it; label is the text the panel shows."""

    def __init__(self, node):
        ident, props, children = node
        self.id = int(ident)
        self.label = shown(str(props.get("label", "")))
        self.enabled = bool(props.get("enabled", True))
        self.visible = bool(props.get("visible", True))
        self.separator = str(props.get("type", "standard")) == "separator"
        self.checked = int(props.get("toggle-state", -1)) == 1
        self.shortcut = [[str(k) for k in combo] for combo in props.get("shortcut", [])]
        self.submenu = str(props.get("children-display", "")) == "submenu"
        self.children = [Item(c) for c in children]

    def labels(self):
        return ["---" if c.separator else c.label for c in self.children if c.visible]

    def find(self, label):
        for child in self.children:
            if not child.separator and child.label == label:
                return child
        return None


# ---- the loopback web server -------------------------------------------------------------------

def payload(name, size):
    """The bytes a file of that name and size holds: a pattern that shows truncation."""
    seed = name.encode()
    block = (seed + b"|" + bytes(range(256))) * (4096 // (len(seed) + 257) + 1)
    return (block * (size // len(block) + 1))[:size]


RELEASE_PAGE = "<html><body><ul>\n\t<li>バージョン：9.9.9</li>\n</ul></body></html>\n"


class Gate(threading.Semaphore):
    """Lets a served body through in steps the test chooses."""

    def __init__(self):
        super().__init__(0)

    def step(self):
        self.release()

    def release_all(self):
        self.release(1000)


class FileServer:
    """A loopback HTTP server:
    /files/NAME?size=N        the whole file at once
    /gated/KEY/NAME?size=N    a quarter at once, then a quarter for each step of gate KEY
    /maker/file/Kestrova/     the release page, announcing version 9.9.9
    /missing/NAME             404
    anything else             404 (no download list, no video site)
    """

    def __init__(self):
        self.gates = {}
        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), self._handler())
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    @property
    def base(self):
        return f"http://127.0.0.1:{self.httpd.server_address[1]}"

    def gate(self, key):
        return self.gates.setdefault(key, Gate())  # atomic under the GIL

    def stop(self):
        for gate in list(self.gates.values()):
            gate.release_all()
        self.httpd.shutdown()
        self.httpd.server_close()

    def _handler(self):
        server = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, fmt, *args):
                pass

            def do_GET(self):
                path, _, query = self.path.partition("?")
                size = int(dict(p.split("=", 1) for p in query.split("&") if "=" in p)
                           .get("size", "65536"))
                parts = path.strip("/").split("/")
                try:
                    if path == "/maker/file/Kestrova/":
                        self._send(RELEASE_PAGE.encode(), [len(RELEASE_PAGE.encode())])
                    elif len(parts) == 2 and parts[0] == "files":
                        self._send(payload(parts[1], size), [size])
                    elif len(parts) == 3 and parts[0] == "gated":
                        quarter = size // 4
                        self._send(payload(parts[2], size),
                                   [quarter, quarter, quarter, size - 3 * quarter],
                                   server.gate(parts[1]))
                    else:
                        self.send_error(404)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def _send(self, body, pieces, gate=None):
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                offset = 0
                for index, piece in enumerate(pieces):
                    if index > 0 and gate is not None:
                        gate.acquire()
                    self.wfile.write(body[offset:offset + piece])
                    self.wfile.flush()
                    offset += piece

        return Handler


# ---- Kestrova ----------------------------------------------------------------------------------

class Kestrova:
    """One run of the program in a user's home, seen from the desktop."""

    BINARY = os.environ.get("KESTROVA_BINARY", "")

    def __init__(self, home, server):
        self.home = home
        self.env = dict(os.environ)
        # The desktop's URL opener (xdg-open) notes what it is asked to open.
        bin_dir = os.path.join(home, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        self.opened_path = os.path.join(home, "opened.txt")
        opener = os.path.join(bin_dir, "xdg-open")
        with open(opener, "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$*" >> "{self.opened_path}"\n')
        os.chmod(opener, 0o755)
        self.env["PATH"] = bin_dir + os.pathsep + self.env.get("PATH", "")
        self.env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "KESTROVA_SERVER_URL": server.base + "/maker",
            "KESTROVA_SITE_URL": server.base + "/site/",
        })
        self.process = None
        self.output_path = None
        self.service = None
        self.path = None

    # where things are
    def downloads(self, name=""):
        return os.path.join(self.home, "Downloads", name)

    def activity_log(self):
        return os.path.join(self.home, "Documents", "Kestrova", "activity.log")

    def log_text(self):
        return read_text(self.activity_log())

    def stored(self, key):
        """The value under key in the stored settings; nothing while none are written."""
        try:
            path = os.path.join(self.env["XDG_CONFIG_HOME"], "kestrova", "defaults.plist")
            with open(path, "rb") as f:
                return plistlib.load(f).get(key)
        except (FileNotFoundError, ValueError):
            return None

    def opened(self):
        """What Kestrova asked the desktop to open, in order."""
        return read_text(self.opened_path).splitlines()

    def autostart_entry(self):
        return os.path.join(self.env["XDG_CONFIG_HOME"], "autostart", "kestrova.desktop")

    # the process
    def start(self, *args):
        index = 0
        while os.path.exists(os.path.join(self.home, f"kestrova-{index}.out")):
            index += 1
        self.output_path = os.path.join(self.home, f"kestrova-{index}.out")
        with open(self.output_path, "w") as out:
            self.process = subprocess.Popen([self.BINARY, *args], env=self.env, stdout=out,
                                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.service = None
        return self

    def output(self):
        return read_text(self.output_path)

    def diagnostics(self):
        return ("\n--- kestrova's output ---\n" + self.output() +
                "\n--- activity log (tail) ---\n" + self.log_text()[-3000:])

    def wait_exit(self, deadline=20, what="exit"):
        try:
            return self.process.wait(timeout=deadline * SLOWDOWN)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"Kestrova did not {what} within {deadline * SLOWDOWN:.0f} s" +
                          self.diagnostics())

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def terminate(self, deadline=20):
        """Ends a running Kestrova as the session does at logout (SIGTERM); answers its exit
        code, or nothing when it was not running."""
        if not self.process or self.process.poll() is not None:
            return None
        self.process.terminate()
        return self.wait_exit(deadline, "end on SIGTERM")

    def wait_registered(self, deadline=20):
        """Waits until Kestrova's status item is registered with the panel; fails fast with a
        clear message when it exits or never registers."""
        def registered():
            if self.process.poll() is not None:
                raise AssertionError(
                    f"Kestrova exited with {self.process.returncode} before it registered a "
                    "status item" + self.diagnostics())
            for entry in registered_items():
                service, _, path = entry.partition("/")
                if owner_pid(service) == self.process.pid:
                    self.service, self.path = service, "/" + path
                    return True
            return False
        try:
            wait_for(registered, deadline, "the status item")
        except AssertionError as timeout:
            if self.process.poll() is not None:
                raise
            raise AssertionError(
                "Kestrova never registered a status item with org.kde.StatusNotifierWatcher "
                f"({timeout}; is the tray published over D-Bus?)" + self.diagnostics()) from None
        return self

    # the status item and its menu
    def item_property(self, name):
        item = bus().get_object(self.service, self.path)
        return item.Get(SNI, name, dbus_interface=PROPERTIES)

    def _menu(self):
        return bus().get_object(self.service, str(self.item_property("Menu")))

    def layout(self):
        _, root = self._menu().GetLayout(0, -1, dbus.Array([], signature="s"),
                                         dbus_interface=DBUSMENU)
        return Item(root)

    def find(self, *labels):
        node = self.layout()
        for label in labels:
            node = node.find(label) if node else None
        return node

    def choose(self, *labels):
        """Opens the submenus on the way as a panel does, then clicks the item."""
        menu = self._menu()
        node = self.layout()
        for label in labels:
            if node.id != 0:
                menu.AboutToShow(dbus.Int32(node.id), dbus_interface=DBUSMENU)
            child = node.find(label)
            if child is None:
                raise AssertionError(f"no menu item {label!r} in {node.labels()}")
            node = child
        menu.Event(dbus.Int32(node.id), "clicked", dbus.Int32(0, variant_level=1),
                   dbus.UInt32(int(time.time()) & 0xFFFFFFFF), dbus_interface=DBUSMENU)

    def wait_menu(self, predicate, deadline, what):
        return wait_for(lambda: predicate(self.layout()), deadline, what)


# ---- clipboard and keyboard --------------------------------------------------------------------

def copy_to_clipboard(text):
    """Copies text as a desktop program does: xclip owns the CLIPBOARD selection from now on."""
    subprocess.run(["xclip", "-selection", "clipboard", "-in"], input=text.encode(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                   timeout=10)


def visible_windows(name_regex):
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_regex],
                            capture_output=True, text=True, timeout=10)
    return [w for w in result.stdout.split() if w.strip()]


def answer_alert(key, deadline=15):
    """Waits for Kestrova's alert window, focuses it and presses key (Return, Escape)."""
    window = wait_for(lambda: visible_windows("^Kestrova$"), deadline, "an alert window")[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False, timeout=10,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # XTEST, to the focused window: what a person's key press is.
    subprocess.run(["xdotool", "key", key], check=True, timeout=10)
    wait_for(lambda: window not in visible_windows("^Kestrova$"), deadline,
             f"the alert to close after {key}")


def running_look(name):
    return re.compile("^" + re.escape(name) + "\u3000\\((\\d+\\.\\d)%\\)$")
