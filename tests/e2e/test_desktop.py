"""Smoke tests of Kestrova's real desktop parts, driven as a desktop drives them: the tray item and
its menu as a panel reads them, the notification server, the X11 clipboard. In a D-Bus session."""
import fcntl, os, pathlib, re, shutil, subprocess, sys, tempfile  # noqa: E401
import threading, time, unittest  # noqa: E401
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop, threads_init
from gi.repository import GLib

SLOWDOWN = float(os.environ.get("KESTROVA_E2E_SLOWDOWN", "1"))  # sanitized builds are slower
WATCHER, MENU = "org.kde.StatusNotifierWatcher", "com.canonical.dbusmenu"
PASTE = "ペーストボードからダウンロード"
FIXED_MENU = [PASTE + " (off)", "---", "ダウンロードが完了した項目を削除 (off)",
              ["自動ダウンロードシステム", "自動ダウンロードシステムを使用する", "---", "ソラノカナタ"],
              ["設定… ^Control+,", "ログイン時に開く", "ログを保存する [x]", "デバッグログを出力する",
               "アップデートを確認…"], "Kestrovaを終了 ^Control+Q"]
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

    def __init__(self, name, path, bus=None):
        bus = dbus.bus.BusConnection(bus or os.environ["DBUS_SESSION_BUS_ADDRESS"], mainloop=LOOP)
        super().__init__(bus, path)
        bus.request_name(name, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)

    def stop(self):
        self.connection.close()


class Panel(StandIn):
    """The panel's watcher: items registered, how often a host (what shows them) was asked for."""

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
        self.items.append((sender, service) if service[0] == "/" else
                          (service, "/StatusNotifierItem"))

    @dbus.service.signal(WATCHER)
    def StatusNotifierHostRegistered(self):
        pass


class Notifications(StandIn):
    """The notification server, reading body markup; received: each Notify's arguments."""

    def __init__(self, *more_capabilities):
        self.received, self.capabilities = [], ["body", "body-markup", *more_capabilities]
        super().__init__("org.freedesktop.Notifications", "/org/freedesktop/Notifications")

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return self.capabilities

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, id, key):  # the user clicked a banner's button
        pass

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, expire):
        hints = {name: [type(value).__name__, value] for name, value in hints.items()}
        self.received.append([app, replaces, icon, summary, body, actions, hints, expire])
        return len(self.received)


class FileManager(StandIn):
    """The file manager; shown: the items it was asked to show."""

    def __init__(self):
        self.shown = []
        super().__init__("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1")

    @dbus.service.method("org.freedesktop.FileManager1", in_signature="ass")
    def ShowItems(self, uris, startup_id):
        self.shown += uris


class Login(StandIn):
    """logind on a system bus of the test's own, telling of sleep and wake-up."""

    def __init__(self, bus):
        super().__init__("org.freedesktop.login1", "/org/freedesktop/login1", bus)

    @dbus.service.signal("org.freedesktop.login1.Manager", signature="b")
    def PrepareForSleep(self, sleeping):
        pass


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


def copy(text):
    """Copies text as a desktop program does: xclip owns the CLIPBOARD selection from now on."""
    subprocess.run(["xclip", "-selection", "clipboard"], input=text.encode(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)


PAYLOAD = bytes(range(251)) * 1632  # 400 KiB and a bit; shows a missing or repeated piece


class Payload(BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", str(len(PAYLOAD)))
        self.end_headers()
        self.wfile.write(PAYLOAD)

    @classmethod
    def serve(cls, test):
        """Serves PAYLOAD at every path until the test ends; its base address."""
        server = ThreadingHTTPServer(("127.0.0.1", 0), cls)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        test.addCleanup(server.shutdown)
        return f"http://127.0.0.1:{server.server_address[1]}"


def setUpModule():
    """An X display (Xvfb) for the session, a temporary folder, the stand-ins' main loop."""
    global ROOT, X_LOCK
    # One X server of these tests at a time on the machine: a client of one was seen failing to
    # connect while others started and stopped.
    X_LOCK = open(os.path.join(tempfile.gettempdir(), "kestrova-e2e-x.lock"), "w")
    fcntl.flock(X_LOCK, fcntl.LOCK_EX)
    ROOT = tempfile.mkdtemp(prefix="kestrova-desktop.")
    ready, told = os.pipe()  # Xvfb writes its display's number there once it takes clients
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(told), "-nolisten", "tcp", "-noreset"],
                            pass_fds=[told], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(told)
    unittest.addModuleCleanup(lambda: (xvfb.terminate(), xvfb.wait(), shutil.rmtree(ROOT)))
    with os.fdopen(ready) as pipe:
        os.environ.update(DISPLAY=":" + pipe.readline().strip(), XDG_RUNTIME_DIR=ROOT)
    assert os.environ["DISPLAY"] != ":", "Xvfb did not start"
    wait_for(lambda: subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0, 20,
             "the X display to take clients")
    threading.Thread(target=GLib.MainLoop().run, daemon=True).start()


class DesktopTest(unittest.TestCase):
    def setUp(self):  # Kestrova in a home of its own
        self.panel, self.process = Panel(), None
        self.home = os.path.join(ROOT, self.id().rsplit(".", 1)[-1])
        self.env = dict(os.environ, HOME=self.home)

    def tearDown(self):
        try:  # every run ends cleanly on SIGTERM, downloads running or not
            self.assertIn(self.stop(), (None, 0), "Kestrova did not end cleanly on SIGTERM")
        finally:
            sys.stderr.write(self.log()[-3000:])
            self.process and self.process.kill()
            self.panel.stop()

    def start(self, **output):
        self.process = subprocess.Popen([os.environ["KESTROVA_BINARY"]], env=self.env,
                                        stdin=subprocess.DEVNULL, **output)

    def stop(self):
        """Ends Kestrova as the session does at logout: SIGTERM; its exit code, if it ran."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
            return self.process.wait(20 * SLOWDOWN)

    def log(self):
        log = pathlib.Path(self.home, "Documents", "Kestrova", "activity.log")
        return log.read_text(errors="replace") if log.exists() else ""

    def registered(self):
        """Waits for Kestrova's status item at the panel; fails at once when Kestrova exits."""
        def items():
            assert self.process.poll() is None, f"Kestrova exited with {self.process.returncode}"
            return self.panel.items
        self.item = dbus.SessionBus().get_object(*wait_for(items, 20, "the status item")[-1])

    def prop(self, name):
        return self.item.Get("org.kde.StatusNotifierItem", name,
                             dbus_interface="org.freedesktop.DBus.Properties")

    def layout(self):
        menu = dbus.SessionBus().get_object(self.item.bus_name, self.prop("Menu"))
        return menu, menu.GetLayout(0, -1, dbus.Array([], "s"), dbus_interface=MENU)[1]

    def menu(self):
        return describe(self.layout()[1])[1:]

    def choose(self, name):  # a top-level item, clicked as a panel does
        menu, root = self.layout()
        menu.Event(next(c for c in root[2] if label(c) == name)[0], "clicked",
                   dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)

    def opener(self):
        """Puts a desktop opener (xdg-open) first in Kestrova's PATH; answers whether it opened a
        path."""
        os.makedirs(os.path.join(self.home, "bin"))
        opener, opened = (os.path.join(self.home, name) for name in ("bin/xdg-open", "opened"))
        pathlib.Path(opener).write_text(f'#!/bin/sh\necho "$*" >> "{opened}"\n')
        os.chmod(opener, 0o755)
        self.env["PATH"] = os.path.dirname(opener) + ":" + self.env["PATH"]
        return lambda path: os.path.exists(opened) and path in pathlib.Path(opened).read_text()

    # No panel: said on standard error while no notification server answers either, then in one
    # notification (its button opens the log's folder), not again at the next start.
    def test_told_once_without_a_panel_then_the_item_once_it_and_its_host_come(self):
        self.panel.stop()
        self.start(stderr=subprocess.PIPE)
        wait_for(lambda: "said on standard error" in self.log(), 20, "the no-panel line")
        self.assertEqual(self.stop(), 0)
        [line] = re.findall(r"(?m)^kestrova: .*$", self.process.stderr.read().decode())
        self.assertRegex(line, r"^kestrova: running, but this desktop shows no status items.*"
                         r"activity log: .*/Documents/Kestrova/activity.log$")
        notifications, opened = Notifications("actions"), self.opener()
        self.addCleanup(notifications.stop)
        self.start()
        [told] = wait_for(lambda: notifications.received, 20, "the no-panel notification")
        self.assertEqual(told[3], "Kestrovaは動作しています")
        self.assertIn("GNOME では拡張機能「AppIndicator and KStatusNotifierItem Support」", told[4])
        self.assertEqual(told[5], ["default", "ログフォルダを開く", "open-folder", "ログフォルダを開く"])
        folder = os.path.join(self.home, "Documents", "Kestrova")
        wait_for(lambda: notifications.ActionInvoked(1, "open-folder") or opened(folder), 10,
                 "the log's folder opened")
        self.assertEqual(self.stop(), 0)
        self.start()
        wait_for(lambda: "said at an earlier start" in self.log(), 20, "the second start's notice")
        self.assertEqual(len(notifications.received), 1)
        self.panel = Panel(host=False)  # a panel comes, its host later
        wait_for(lambda: self.panel.asked, 20, "Kestrova to ask the new panel for its host")
        self.panel.host = True
        self.panel.StatusNotifierHostRegistered()
        self.registered()
        marker = os.path.join(self.home, ".config", "kestrova", "no-status-host-told")
        self.assertFalse(os.path.exists(marker), "a panel seen: the next one missing is told")
        # The panel restarts (it crashed, or the user reloaded it): the item comes back.
        self.panel.stop()
        self.panel = Panel()
        self.registered()
        self.assertEqual(self.menu(), FIXED_MENU)
        self.assertEqual(self.prop("ToolTip")[2:], ("Kestrova", ""))
        # The painted glyph at the panel's sizes, dark with a light rim: seen on any panel.
        icons = {(w, h): bytes(argb) for w, h, argb in self.prop("IconPixmap")}
        self.assertLessEqual({(16, 16), (22, 22), (32, 32), (64, 64)}, set(icons))
        opaque = [icons[32, 32][i + 1:i + 4] for i in range(0, 4096, 4) if icons[32, 32][i] == 255]
        self.assertTrue(any(max(p) < 80 for p in opaque) and any(min(p) > 200 for p in opaque))

    def test_download_from_the_clipboard(self):
        notifications = Notifications()
        self.addCleanup(notifications.stop)
        self.start()
        self.registered()
        name = "__init__ & video_01.bin"  # a panel reads "_" and "&" as access-key marks
        copy(f"{Payload.serve(self)}/{name}")
        wait_for(lambda: self.menu()[0] == PASTE, 3, "the download command to be enabled")
        self.choose(PASTE)
        wait_for(lambda: self.menu()[1:4] == ["---", name + " [x] (off)", "---"], 15,
                 "the finished download's ticked row")
        self.assertEqual(wait_for(lambda: notifications.received, 15, "a banner"), [[
            "Kestrova", 0, "kestrova", "ダウンロード完了", "__init__ &amp; video_01.bin", [],
            {"urgency": ["Byte", 1], "sound-name": ["String", "message-new-instant"],
             "desktop-entry": ["String", "kestrova"]}, -1]])
        with open(os.path.join(self.home, "Downloads", name), "rb") as f:
            self.assertEqual(f.read(), PAYLOAD)

    def hand_over(self, url):
        return subprocess.run([os.environ["KESTROVA_BINARY"], url], env=self.env, timeout=30,
                              capture_output=True).returncode

    # An address handed over to the running tray program; its banner's two actions. After a
    # wake-up from suspend (logind on a system bus of the test's own) Kestrova looks at its scan
    # schedule at once. A SIGTERM while an alert is up (the refusal of an https address) ends it
    # cleanly in tearDown.
    def test_hand_off_banner_actions_wake_up_and_a_quit_during_an_alert(self):
        notifications, files = Notifications("actions"), FileManager()
        system_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                      stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (system_bus.terminate(), system_bus.wait()))
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = system_bus.stdout.readline().strip()
        login = Login(self.env["DBUS_SYSTEM_BUS_ADDRESS"])
        for stand_in in (notifications, files, login):
            self.addCleanup(stand_in.stop)
        opened = self.opener()
        self.start()
        self.registered()
        self.assertEqual(self.hand_over(Payload.serve(self) + "/handed.bin"), 0)
        file = os.path.join(self.home, "Downloads", "handed.bin")
        banner = wait_for(lambda: notifications.received, 15, "a banner")[0]
        self.assertEqual(banner[3:6], ["ダウンロード完了", "handed.bin",
                                       ["default", "開く", "show-folder", "フォルダを表示"]])
        # Clicked until heard: Kestrova learns the banner's id from Notify's reply, which may
        # still be on its way when the banner shows.
        wait_for(lambda: notifications.ActionInvoked(1, "show-folder") or files.shown, 10,
                 "the file shown")
        self.assertEqual(files.shown[0], "file://" + file)
        wait_for(lambda: notifications.ActionInvoked(1, "default") or opened(file), 10,
                 "the file opened")
        self.assertEqual(self.hand_over("http://127.0.0.1:9/gone.bin"), 0)  # nothing answers
        banner = wait_for(lambda: notifications.received[1:], 15, "the error banner")[0]
        self.assertEqual(banner[3:6], ["ダウンロード エラー", "ファイル名を取得できませんでした", []])
        wait_for(lambda: login.PrepareForSleep(False) or "Resumed from suspend." in self.log(),
                 15, "the wake-up to be noticed")
        self.assertEqual(self.hand_over("https://example.com/a.mp4"), 0)
        wait_for(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                         "^Kestrova$"], capture_output=True).stdout, 15,
                 "the refusal alert")

    def test_an_unusable_display_gives_a_clear_message(self):
        self.env["DISPLAY"] = f":{4000 + os.getpid() % 1000}"
        self.start(stderr=subprocess.PIPE)
        _, output = self.process.communicate(timeout=20)
        self.assertEqual(self.process.returncode, 1)
        self.assertRegex(output, rb'kestrova: cannot open the display ":\d+" \(use --headless')


if __name__ == "__main__":
    unittest.main(verbosity=2)
