"""Kestrova on a Linux desktop, driven only as a desktop drives it (its StatusNotifierItem and
dbusmenu as the panel reads them, the notification server, the X11 clipboard and the keyboard):
the harness, then the cases. In a D-Bus session of its own, with KESTROVA_BINARY set."""
import contextlib, os, pathlib, re, shutil, subprocess, sys, tempfile  # noqa: E401
import threading, time, unittest  # noqa: E401
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop, threads_init
from gi.repository import GLib

# Sanitized builds run several times slower: deadlines grow with them.
SLOWDOWN = float(os.environ.get("KESTROVA_E2E_SLOWDOWN", "1"))
WATCHER, MENU = "org.kde.StatusNotifierWatcher", "com.canonical.dbusmenu"
threads_init()
LOOP = DBusGMainLoop()  # the stand-ins' main loop, run on a thread of its own by setUpModule


def wait_for(condition, seconds, what):
    """Polls condition until it answers something true, which it returns; fails at the deadline."""
    end = time.monotonic() + seconds * SLOWDOWN
    while not (value := condition()):
        if time.monotonic() > end:
            raise AssertionError(f"gave up after {seconds * SLOWDOWN:.0f} s waiting for {what}")
        time.sleep(0.05)
    return value


class StandIn(dbus.service.Object):
    """A desktop service on a bus connection of its own; stop() closes it, as when it exits."""

    def __init__(self, name, path):
        bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"], mainloop=LOOP)
        super().__init__(bus, path)
        bus.request_name(name, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)

    def stop(self):
        self.connection.close()


class Panel(StandIn):
    """The panel's watcher: items registered, and how often Kestrova asked for a host (what
    shows the items), which there is not while host is False."""

    def __init__(self, host=True):
        self.items, self.host, self.asked = [], host, 0
        super().__init__(WATCHER, "/StatusNotifierWatcher")

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):  # Qt looks the property up here before it reads it
        return f"""<node><interface name="{WATCHER}"><property type="b" access="read"
            name="IsStatusNotifierHostRegistered"/></interface></node>"""

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        self.asked += 1
        return {"IsStatusNotifierHostRegistered": self.host}[name]

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        # An item names its bus name (object /StatusNotifierItem), or only its object path.
        self.items.append(sender + service if service[0] == "/"
                          else service + "/StatusNotifierItem")

    @dbus.service.signal(WATCHER)
    def StatusNotifierHostRegistered(self):
        pass


class Notifications(StandIn):
    """The notification server, reading body markup; received: each Notify's arguments."""

    def __init__(self):
        self.received = []
        super().__init__("org.freedesktop.Notifications", "/org/freedesktop/Notifications")

    def wait(self, summary):
        return wait_for(lambda: next((n for n in self.received if n[3] == summary), None), 15,
                        f"a {summary!r} banner")

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["body", "body-markup"]

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, expire):
        hints = {name: [type(value).__name__, value] for name, value in hints.items()}
        self.received.append([app, replaces, icon, summary, body, actions, hints, expire])
        return len(self.received)


def label(node):
    """A dbusmenu label as a panel shows it: "__" is "_", a lone "_" marks the access key."""
    return re.sub("_(_?)", r"\1", node[1].get("label", ""))


def describe(node):
    """A dbusmenu node as a panel draws it: "---", or the label with " [x]"/" [ ]" for a check
    box, " (off)" when disabled, " ^Control+Q" for a shortcut; a submenu: that and its items."""
    _, props, children = node
    if props.get("type") == "separator":
        return "---"
    box = {1: " [x]"}.get(props.get("toggle-state"), " [ ]") if props.get("toggle-type") else ""
    text = label(node) + box + ("" if props.get("enabled", True) else " (off)") + \
        "".join(" ^" + "+".join(keys) for keys in props.get("shortcut", []))
    if props.get("children-display") != "submenu":
        return text
    return [text] + [describe(c) for c in children if c[1].get("visible", True)]


class Kestrova:
    """The program, run after run in a home of its own with a URL opener noting what it opens."""
    BINARY = os.environ.get("KESTROVA_BINARY", "")

    def __init__(self, home, server):
        self.home, self.process = home, None
        os.makedirs(self.path("bin"))
        with open(self.path("bin", "xdg-open"), "w") as opener:
            opener.write(f'#!/bin/sh\necho "$*" >> "{self.path("opened")}"\n')
        os.chmod(self.path("bin", "xdg-open"), 0o755)
        self.env = dict(os.environ, HOME=home, PATH=self.path("bin") + ":" + os.environ["PATH"],
                        XDG_CONFIG_HOME=self.path(".config"), XDG_CACHE_HOME=self.path(".cache"),
                        XDG_DATA_HOME=self.path(".local"),
                        KESTROVA_SERVER_URL=server + "/maker", KESTROVA_SITE_URL=server + "/site/")

    def path(self, *parts):
        return os.path.join(self.home, *parts)

    def read(self, *parts):
        path = pathlib.Path(self.path(*parts))
        return path.read_text(errors="replace") if path.exists() else ""

    def log(self):
        return self.read("Documents", "Kestrova", "activity.log")

    def start(self, *args, **output):
        self.process = subprocess.Popen([self.BINARY, *args], env=self.env,
                                        stdin=subprocess.DEVNULL, **output)
        return self

    def stop(self):
        """Ends Kestrova as the session does at logout: SIGTERM; its exit code, if it ran."""
        if self.process.poll() is None:
            self.process.terminate()
            return self.process.wait(20 * SLOWDOWN)

    def wait_registered(self, panel):
        """Waits for Kestrova's status item at the panel; fails at once when Kestrova exits."""
        def registered():
            assert self.process.poll() is None, f"Kestrova exited with {self.process.returncode}"
            for service, _, path in (entry.partition("/") for entry in panel.items):
                with contextlib.suppress(dbus.DBusException):  # an earlier run's item is gone
                    if dbus.SessionBus().call_blocking(
                            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "GetConnectionUnixProcessID", "s", [service]) == self.process.pid:
                        self.item = dbus.SessionBus().get_object(service, "/" + path)
                        return True
        wait_for(registered, 20, "Kestrova's status item at the panel")
        return self

    def item_property(self, name):
        return self.item.Get("org.kde.StatusNotifierItem", name,
                             dbus_interface="org.freedesktop.DBus.Properties")

    def layout(self):
        menu = dbus.SessionBus().get_object(self.item.bus_name, self.item_property("Menu"))
        return menu, menu.GetLayout(0, -1, dbus.Array([], "s"), dbus_interface=MENU)[1]

    def menu(self):
        return describe(self.layout()[1])[1:]

    def wait_menu(self, predicate, seconds, what):
        return wait_for(lambda: predicate(self.menu()), seconds, what)

    def choose(self, *labels):
        """Opens the submenus on the way as a panel does, then clicks the item."""
        menu, node = self.layout()
        for name in labels:
            if node[0]:
                menu.AboutToShow(node[0], dbus_interface=MENU)
            node = next((c for c in node[2] if label(c) == name), None)
            assert node, f"no menu item {name!r} in {self.menu()}"
        menu.Event(node[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                   dbus_interface=MENU)


def copy(text):
    """Copies text as a desktop program does: xclip owns the CLIPBOARD selection from now on."""
    subprocess.run(["xclip", "-selection", "clipboard"], input=text.encode(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)


def alert_windows():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Kestrova$"],
                          capture_output=True, text=True, timeout=10).stdout.split()


def answer_alert(key):
    """Waits for Kestrova's alert, focuses it and presses key (Return, Escape) as a person does."""
    window = wait_for(alert_windows, 15, "an alert")[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=10)
    subprocess.run(["xdotool", "key", key], check=True, timeout=10)
    wait_for(lambda: window not in alert_windows(), 15, f"the alert to close on {key}")


def payload(size):
    return (bytes(range(251)) * (size // 251 + 1))[:size]  # shows a missing or repeated piece


class WebServer(BaseHTTPRequestHandler):
    """A loopback server. /gated/NAME?size=N: a file's first quarter, the rest once gate is set.
    /maker/file/Kestrova/: the release page of version 9.9.9. Anything else: 404."""

    @staticmethod
    def start():
        server = ThreadingHTTPServer(("127.0.0.1", 0), WebServer)
        server.base, server.gate = f"http://127.0.0.1:{server.server_address[1]}", threading.Event()
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server

    def do_GET(self):
        path, _, query = self.path.partition("?")
        body, gated = payload(int(query.partition("size=")[2] or 0)), path.startswith("/gated/")
        if path == "/maker/file/Kestrova/":
            body = "<html><body><ul>\n\t<li>バージョン：9.9.9</li>\n</ul></body></html>\n".encode()
        elif not gated:
            return self.send_error(404)
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        with contextlib.suppress(BrokenPipeError, ConnectionResetError):
            self.wfile.write(body[:len(body) // 4])
            self.wfile.flush()
            if gated:
                self.server.gate.wait()
            self.wfile.write(body[len(body) // 4:])


def setUpModule():
    """An X display (Xvfb) for the session, a temporary folder, the stand-ins' main loop."""
    global ROOT
    ROOT = tempfile.mkdtemp(prefix="kestrova-desktop.")
    ready, told = os.pipe()  # Xvfb writes its display's number there once it takes clients
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(told), "-nolisten", "tcp"],
                            pass_fds=[told], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(told)
    unittest.addModuleCleanup(lambda: (xvfb.terminate(), xvfb.wait(), shutil.rmtree(ROOT)))
    with os.fdopen(ready) as pipe:
        os.environ.update(DISPLAY=":" + pipe.readline().strip(), XDG_RUNTIME_DIR=ROOT)
    assert os.environ["DISPLAY"] != ":", "Xvfb did not start"
    threading.Thread(target=GLib.MainLoop().run, daemon=True).start()


# ---- the cases ---------------------------------------------------------------------------------

PASTE, DELETE, QUIT = "ペーストボードからダウンロード", "ダウンロードが完了した項目を削除", "Kestrovaを終了"
AUTO, USE_AUTO, SETTINGS = "自動ダウンロードシステム", "自動ダウンロードシステムを使用する", "設定…"
SAVE_LOG, DEBUG_LOG, UPDATE = "ログを保存する", "デバッグログを出力する", "アップデートを確認…"
AUTO_MENU = [AUTO, USE_AUTO, "---", "ソラノカナタ"]  # the shipped list's title
SETTINGS_MENU = [SETTINGS + " ^Control+,", "ログイン時に開く", SAVE_LOG + " [x]", DEBUG_LOG, UPDATE]
FIXED_MENU = [PASTE + " (off)", "---", DELETE + " (off)", AUTO_MENU, SETTINGS_MENU,
              QUIT + " ^Control+Q"]


class DesktopTest(unittest.TestCase):
    def setUp(self):
        self.server, self.panel = WebServer.start(), Panel()
        self.app = Kestrova(os.path.join(ROOT, self.id().rsplit(".", 1)[-1]), self.server.base)
        copy("")  # the clipboard belongs to the session: no address from an earlier case

    def tearDown(self):
        try:  # every run ends cleanly on SIGTERM, downloads running or not
            self.assertIn(self.app.stop(), (None, 0), "Kestrova did not end cleanly on SIGTERM")
        finally:
            sys.stderr.write(self.app.log()[-3000:])
            self.app.process.kill()
            self.panel.stop()
            self.server.gate.set()
            self.server.shutdown()

    def start_download(self, name, size):
        """Downloads a file the server holds after its first quarter, up to its row's per cent."""
        copy(f"{self.server.base}/gated/{name}?size={size}")
        self.app.wait_menu(lambda m: m[0] == PASTE, 3, "the download command to be enabled")
        self.app.choose(PASTE)
        look = re.escape(name) + "\u3000\\(\\d+\\.\\d%\\) \\(off\\)"
        self.app.wait_menu(lambda m: m[1] == m[3] == "---" and re.fullmatch(look, m[2]), 10,
                           "the running download")

    def test_download_from_the_clipboard(self):
        notifications = Notifications()
        self.addCleanup(notifications.stop)
        app = self.app.start().wait_registered(self.panel)
        # A panel reads "_" and "&" as access-key marks: the name must show as it is.
        name = "__init__ & video_01.bin"
        self.start_download(name, 400 * 1024)
        self.server.gate.set()
        app.wait_menu(lambda m: m[2] == name + " [x] (off)", 15, "the ticked file name")
        self.assertEqual(notifications.wait("ダウンロード完了"), [
            "Kestrova", 0, "kestrova", "ダウンロード完了", "__init__ &amp; video_01.bin", [],
            {"urgency": ["Byte", 1], "sound-name": ["String", "message-new-instant"],
             "desktop-entry": ["String", "kestrova"]}, -1])
        with open(app.path("Downloads", name), "rb") as f:
            self.assertEqual(f.read(), payload(400 * 1024))
        copy("two words")
        app.wait_menu(lambda m: m[0] == PASTE + " (off)", 3, "the download command to be off")
        copy(self.server.base + "/missing/gone.bin")
        app.wait_menu(lambda m: m[0] == PASTE, 3, "the download command to be on")
        app.choose(PASTE)
        notifications.wait("ダウンロード エラー")
        self.assertFalse(os.path.exists(app.path("Downloads", "gone.bin")))

    def test_settings_survive_a_restart(self):
        app = self.app.start().wait_registered(self.panel)
        app.choose(SETTINGS, SAVE_LOG)
        app.choose(AUTO, USE_AUTO)
        app.choose(SETTINGS, DEBUG_LOG)
        answer_alert("Return")  # it takes effect at the next launch, Kestrova says
        # The release page announces another version: "はい" opens it in the browser.
        app.choose(SETTINGS, UPDATE)
        answer_alert("Return")
        self.assertEqual(wait_for(lambda: app.read("opened"), 10, "the browser"),
                         self.server.base + "/maker/file/Kestrova/\n")
        # A switch once ticked keeps its box; after the restart only the ticked ones have one.
        switched = [[AUTO, USE_AUTO + " [x]"] + AUTO_MENU[2:],
                    SETTINGS_MENU[:2] + [SAVE_LOG + " [ ]", DEBUG_LOG + " [x]", UPDATE]]
        app.wait_menu(lambda m: m[3:5] == switched, 5, "the switches ticked")
        app.choose(QUIT)
        self.assertEqual(app.process.wait(20 * SLOWDOWN), 0)
        switched[1][2] = SAVE_LOG
        self.assertEqual(app.start().wait_registered(self.panel).menu()[3:5], switched)

    def test_quit_question_while_a_download_runs(self):
        app = self.app.start().wait_registered(self.panel)
        self.start_download("held.bin", 4 << 20)
        partial = app.path("Downloads", "held.bin")
        wait_for(lambda: os.path.exists(partial), 10, "the partial file")
        # Escape is "キャンセル": Kestrova stays and the download goes on.
        app.choose(QUIT)
        answer_alert("Escape")
        self.assertIsNone(app.process.poll())
        self.assertRegex(app.menu()[2], "^held.bin\u3000")
        # Logging out while it asks again ends Kestrova as cleanly as "終了" does.
        app.choose(QUIT)
        wait_for(alert_windows, 15, "the quit question")
        self.assertEqual(app.stop(), 0)
        self.assertFalse(os.path.exists(partial), "the partial file stayed")
        self.assertEqual(app.log().count("Application Terminate."), 1)

    def test_tray_item_once_the_panel_and_its_host_come(self):
        self.panel.stop()
        app = self.app.start()
        wait_for(lambda: "Waiting for a panel" in app.log(), 20, "the waiting line")
        self.panel = Panel(host=False)  # a panel comes, its host later
        wait_for(lambda: self.panel.asked, 20, "Kestrova to ask the new panel for its host")
        self.panel.host = True
        self.panel.StatusNotifierHostRegistered()
        app.wait_registered(self.panel)
        # The panel restarts (it crashed, or the user reloaded it): the item comes back.
        self.panel.stop()
        self.panel = Panel()
        self.assertEqual(app.wait_registered(self.panel).menu(), FIXED_MENU)
        self.assertEqual(app.item_property("ToolTip")[2:], ("Kestrova", ""))
        # The painted glyph at the panel's sizes, dark with a light rim: seen on any panel.
        icons = {(w, h): bytes(argb) for w, h, argb in app.item_property("IconPixmap")}
        self.assertLessEqual({(16, 16), (22, 22), (32, 32), (64, 64)}, set(icons))
        opaque = [icons[32, 32][i + 1:i + 4] for i in range(0, 4096, 4) if icons[32, 32][i] == 255]
        self.assertTrue(any(max(p) < 80 for p in opaque) and any(min(p) > 200 for p in opaque))

    def test_an_unusable_display_gives_a_clear_message(self):
        self.app.env["DISPLAY"] = f":{4000 + os.getpid() % 1000}"
        _, output = self.app.start(stderr=subprocess.PIPE).process.communicate(timeout=20)
        self.assertEqual(self.app.process.returncode, 1)
        self.assertRegex(output, rb'kestrova: cannot open the display ":\d+" \(use --headless')


if __name__ == "__main__":
    unittest.main(verbosity=2)
