#!/usr/bin/env python3
"""End-to-end tests of Kestrova on a Linux desktop, driven only as a desktop would (desktop.py).

  KESTROVA_BINARY=... tests/e2e/run_desktop_session.sh python3 tests/e2e/test_desktop.py \
      DesktopTest.test_fixed_menu
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import (FileServer, Kestrova, NotificationServer, Panel, answer_alert,  # noqa: E402
                     copy_to_clipboard, payload, registered_items, running_look,
                     visible_windows, wait_for)

ROOT = os.environ.get("KESTROVA_SESSION_ROOT") or tempfile.mkdtemp(prefix="kestrova-e2e-")

PASTE = "ペーストボードからダウンロード"
DELETE = "ダウンロードが完了した項目を削除"
AUTO = "自動ダウンロードシステム"
USE_AUTO = "自動ダウンロードシステムを使用する"
SETTINGS = "設定…"
QUIT = "Kestrovaを終了"
AT_LOGIN = "ログイン時に開く"
SAVE_LOG = "ログを保存する"
DEBUG_LOG = "デバッグログを出力する"
UPDATE = "アップデートを確認…"
FIXED_MENU = [PASTE, "---", DELETE, AUTO, SETTINGS, QUIT]

SERVER = None
NOTIFICATIONS = None


def setUpModule():
    global SERVER, NOTIFICATIONS
    if not Kestrova.BINARY:
        raise unittest.SkipTest("KESTROVA_BINARY is not set")
    SERVER = FileServer()
    NOTIFICATIONS = NotificationServer(os.path.join(ROOT, "notifications.jsonl"))


def tearDownModule():
    if NOTIFICATIONS:
        NOTIFICATIONS.stop()
    if SERVER:
        SERVER.stop()


class DesktopTest(unittest.TestCase):
    def setUp(self):
        self.home = os.path.join(ROOT, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.home, ignore_errors=True)
        os.makedirs(self.home)
        # The clipboard belongs to the session: start each test from one without an address.
        copy_to_clipboard("")
        self.panel = Panel()
        self.app = Kestrova(self.home, SERVER)
        self.seen_notifications = len(NOTIFICATIONS.received())

    def tearDown(self):
        try:
            # Every run ends cleanly, downloads running or not.
            code = self.app.terminate()
            if code is not None:
                self.assertEqual(code, 0, "Kestrova did not end cleanly on SIGTERM" +
                                 self.app.diagnostics())
        finally:
            self.app.kill()
            if self.panel:
                self.panel.stop()

    # helpers
    def launch(self):
        return self.app.start().wait_registered()

    def notification(self, summary, deadline=15):
        def find():
            for entry in NOTIFICATIONS.received()[self.seen_notifications:]:
                if entry["summary"] == summary:
                    return entry
            return None
        return wait_for(find, deadline, f"a notification {summary!r}")

    def assert_banner_look(self, entry, body):
        self.assertEqual(entry["app_name"], "Kestrova")
        self.assertEqual(entry["body"], body)
        self.assertEqual(entry["actions"], [])
        self.assertEqual(entry["expire_timeout"], -1)
        self.assertEqual(entry["hints"].get("urgency"), {"type": "y", "value": 1})
        self.assertEqual(entry["hints"].get("sound-name"),
                         {"type": "s", "value": "message-new-instant"})

    def copy_and_wait_enabled(self, url):
        copy_to_clipboard(url)
        self.app.wait_menu(lambda m: m.find(PASTE).enabled, 2,
                           f"{PASTE!r} to be enabled after copying {url}")

    def checked(self, *labels):
        return self.app.find(*labels).checked

    def switch(self, labels, tick, key, value):
        """Chooses a switch and waits for its tick and its stored value."""
        self.app.choose(*labels)
        wait_for(lambda: self.checked(*labels) == tick, 5, f"{labels[-1]!r} ticked: {tick}")
        wait_for(lambda: self.app.stored(key) is value, 5, f"{key} stored as {value}")

    def quit_from_menu(self):
        self.app.choose(QUIT)
        return self.app.wait_exit()

    # tests
    def test_fixed_menu(self):
        app = self.launch()
        menu = app.layout()
        self.assertEqual(menu.labels(), FIXED_MENU)
        self.assertFalse(menu.find(PASTE).enabled)
        self.assertFalse(menu.find(DELETE).enabled)
        for label in (AUTO, SETTINGS, QUIT):
            self.assertTrue(menu.find(label).enabled, label)
        self.assertEqual([[k.lower() for k in combo] for combo in menu.find(SETTINGS).shortcut],
                         [["control", ","]])
        self.assertEqual([[k.lower() for k in combo] for combo in menu.find(QUIT).shortcut],
                         [["control", "q"]])

        settings = menu.find(SETTINGS)
        self.assertTrue(settings.submenu)
        self.assertEqual(settings.labels(), [AT_LOGIN, SAVE_LOG, DEBUG_LOG, UPDATE])
        self.assertEqual({c.label: c.checked for c in settings.children},
                         {AT_LOGIN: False, SAVE_LOG: True, DEBUG_LOG: False, UPDATE: False})
        auto = menu.find(AUTO)
        self.assertTrue(auto.submenu)
        self.assertEqual(auto.labels()[:2], [USE_AUTO, "---"])
        self.assertFalse(auto.find(USE_AUTO).checked)

        # The item itself: the painted glyph at the panel sizes, dark with a light rim, and the
        # tool tip.
        self.assertEqual(str(app.item_property("Title")), "Kestrova")
        tooltip = app.item_property("ToolTip")
        self.assertIn("Kestrova", [str(tooltip[2]), str(tooltip[3])])
        pixmaps = {(int(w), int(h)): bytes(data) for w, h, data in app.item_property("IconPixmap")}
        self.assertTrue({(16, 16), (22, 22), (32, 32), (64, 64)} <= set(pixmaps), pixmaps.keys())
        argb = pixmaps[(32, 32)]
        opaque = [argb[i + 1:i + 4] for i in range(0, len(argb), 4) if argb[i] == 255]
        self.assertTrue(any(max(p) < 80 for p in opaque), "no dark pixels in the icon")
        self.assertTrue(any(min(p) > 200 for p in opaque), "no light pixels in the icon")
        self.assertIn("Application Launched.", app.log_text())

    def test_clipboard_switches_the_download_command(self):
        app = self.launch()
        self.copy_and_wait_enabled(SERVER.base + "/files/one.bin")
        copy_to_clipboard(SERVER.base + "/files/one.bin\n" + SERVER.base + "/files/two.bin")
        app.wait_menu(lambda m: not m.find(PASTE).enabled, 2, "a two-line text to disable it")
        self.copy_and_wait_enabled("http://example.invalid/again.bin")
        copy_to_clipboard("some words")
        app.wait_menu(lambda m: not m.find(PASTE).enabled, 2, "plain words to disable it")

    def test_download_shows_progress_then_tick_and_banner(self):
        app = self.launch()
        gate = SERVER.gate("progress")
        size = 400 * 1024
        self.copy_and_wait_enabled(f"{SERVER.base}/gated/progress/progress.bin?size={size}")
        fixed_ids = {c.label: c.id for c in app.layout().children if not c.separator}
        app.choose(PASTE)

        look = running_look("progress.bin")
        menu = app.wait_menu(
            lambda m: len(m.children) == 8 and look.match(m.children[2].label) and m, 10,
            "the running download below a new separator")
        self.assertTrue(menu.children[1].separator)
        running = menu.children[2]
        self.assertFalse(running.enabled)
        self.assertFalse(running.checked)
        first = look.match(running.label).group(1)

        # More data: the same menu item changes its text in place.
        gate.step()
        moved = app.wait_menu(lambda m: look.match(m.children[2].label) and
                              look.match(m.children[2].label).group(1) != first and m, 10,
                              "the percentage to change")
        self.assertEqual(moved.children[2].id, running.id)
        self.assertEqual({c.label: c.id for c in moved.children if c.label in fixed_ids},
                         fixed_ids)

        gate.release_all()
        done = app.wait_menu(lambda m: m.children[2].label == "progress.bin" and
                             m.children[2].checked and m, 15, "the ticked file name")
        self.assertFalse(done.children[2].enabled)
        self.assertTrue(done.find(DELETE).enabled)

        self.assert_banner_look(self.notification("ダウンロード完了"), "progress.bin")
        with open(app.downloads("progress.bin"), "rb") as f:
            self.assertEqual(f.read(), payload("progress.bin", size))

        app.choose(DELETE)
        app.wait_menu(lambda m: m.labels() == FIXED_MENU, 5, "the finished item to go")

    def test_file_names_are_shown_as_they_are(self):
        app = self.launch()
        # A panel reads "_" and "&" in a label as mnemonic marks; the name must show unchanged.
        for name in ("video_01 & extras.mp4", "__init__.py"):
            self.copy_and_wait_enabled(f"{SERVER.base}/files/{name}?size=2048")
            app.choose(PASTE)
            app.wait_menu(lambda m, n=name: m.find(n) and m.find(n).checked, 15,
                          f"the ticked {name!r}")
            self.assertEqual(self.notification("ダウンロード完了")["body"], name)
            self.seen_notifications = len(NOTIFICATIONS.received())
            self.assertTrue(os.path.exists(app.downloads(name)))

    def test_failed_download_notifies_error(self):
        app = self.launch()
        self.copy_and_wait_enabled(SERVER.base + "/missing/gone.bin")
        app.choose(PASTE)
        entry = self.notification("ダウンロード エラー")
        self.assertEqual(entry["app_name"], "Kestrova")
        self.assertEqual(entry["hints"].get("urgency"), {"type": "y", "value": 1})
        self.assertFalse(os.path.exists(app.downloads("gone.bin")))
        self.assertFalse(any(e["summary"] == "ダウンロード完了"
                             for e in NOTIFICATIONS.received()[self.seen_notifications:]))

    def test_settings_stick_across_restart(self):
        app = self.launch()
        self.switch((SETTINGS, SAVE_LOG), False, "saveLogFile", False)
        self.switch((AUTO, USE_AUTO), True, "useAutoDownloadSystem", True)
        # The debug switch tells that it needs a restart.
        app.choose(SETTINGS, DEBUG_LOG)
        answer_alert("Return")
        wait_for(lambda: self.checked(SETTINGS, DEBUG_LOG), 5, "the debug-log tick")
        wait_for(lambda: app.stored("saveDebugLog") is True, 5, "saveDebugLog stored as true")

        self.assertEqual(self.quit_from_menu(), 0)
        self.assertFalse(os.path.exists(app.activity_log()), "the log was kept though switched off")

        app.start().wait_registered()
        self.assertFalse(self.checked(SETTINGS, SAVE_LOG))
        self.assertTrue(self.checked(SETTINGS, DEBUG_LOG))
        self.assertTrue(self.checked(AUTO, USE_AUTO))
        self.switch((SETTINGS, SAVE_LOG), True, "saveLogFile", True)
        self.assertEqual(self.quit_from_menu(), 0)
        self.assertIn("Application Terminate.", app.log_text())

    def test_open_at_login_writes_and_removes_the_autostart_entry(self):
        app = self.launch()
        entry = app.autostart_entry()
        self.assertFalse(os.path.exists(entry))
        app.choose(SETTINGS, AT_LOGIN)
        wait_for(lambda: self.checked(SETTINGS, AT_LOGIN), 5, "the open-at-login tick")
        with open(entry, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("[Desktop Entry]", text)
        self.assertIn("Exec=", text)
        app.choose(SETTINGS, AT_LOGIN)
        wait_for(lambda: not self.checked(SETTINGS, AT_LOGIN), 5, "the tick to go")
        self.assertFalse(os.path.exists(entry))

    def start_held_download(self, name):
        """Starts a download that the server holds after its first quarter."""
        SERVER.gate(name)
        self.copy_and_wait_enabled(f"{SERVER.base}/gated/{name}/{name}.bin?size={4 << 20}")
        self.app.choose(PASTE)
        look = running_look(name + ".bin")
        self.app.wait_menu(lambda m: len(m.children) > 2 and look.match(m.children[2].label), 10,
                           "the running download")
        wait_for(lambda: os.path.exists(self.app.downloads(name + ".bin")), 5, "the partial file")
        return look

    def test_quit_with_a_running_download_asks_first(self):
        app = self.launch()
        look = self.start_held_download("partial")

        # Escape is "キャンセル": Kestrova stays, the download goes on.
        app.choose(QUIT)
        answer_alert("Escape")
        self.assertIsNone(app.process.poll())
        self.assertTrue(look.match(app.layout().children[2].label))

        # Return is "終了".
        app.choose(QUIT)
        answer_alert("Return")
        self.assertEqual(app.wait_exit(), 0)
        self.assertFalse(os.path.exists(app.downloads("partial.bin")), "the partial file stayed")
        self.assertIn("Application Terminate.", app.log_text())

    def test_logout_while_the_quit_question_is_up(self):
        app = self.launch()
        self.start_held_download("logout")
        app.choose(QUIT)
        wait_for(lambda: visible_windows("^Kestrova$"), 15, "the quit question")
        # The session ends (SIGTERM) with the question still up: Kestrova quits cleanly.
        self.assertEqual(app.terminate(), 0, app.diagnostics())
        self.assertFalse(os.path.exists(app.downloads("logout.bin")), "the partial file stayed")
        self.assertEqual(app.log_text().count("Application Terminate."), 1)

    def test_update_check_offers_the_release_page(self):
        app = self.launch()
        # The release page announces another version: "いいえ" (Escape) opens nothing...
        app.choose(SETTINGS, UPDATE)
        answer_alert("Escape")
        # ...and "はい" (Return) opens the page in the browser.
        app.choose(SETTINGS, UPDATE)
        answer_alert("Return")
        wait_for(app.opened, 10, "the browser to be asked")
        self.assertEqual(app.opened(), [SERVER.base + "/maker/file/Kestrova/"])

    def test_second_instance_exits_with_a_message(self):
        app = self.launch()
        second = Kestrova(self.home, SERVER).start()
        self.assertEqual(second.wait_exit(), 1)
        self.assertIn("kestrova: already running", second.output())
        self.assertIsNone(app.process.poll())
        self.assertEqual(len(registered_items()), 1)

    def test_an_unusable_display_gives_a_clear_message(self):
        self.app.env["DISPLAY"] = ":" + str(4000 + os.getpid() % 1000)
        self.app.start()
        self.assertEqual(self.app.wait_exit(), 1)
        self.assertIn("kestrova: cannot open the display", self.app.output())
        self.assertIn("--headless", self.app.output())

    def start_without_a_panel(self, with_unhosted_watcher):
        """Starts Kestrova with no panel host and waits for its waiting line."""
        self.panel.stop()
        self.panel = Panel(host_registered=False) if with_unhosted_watcher else None
        self.app.start()
        wait_for(lambda: "Waiting for a panel" in self.app.log_text(), 20, "the waiting line")
        self.assertEqual(registered_items(), [])
        return self.app

    def test_waits_for_a_panel_that_comes_later(self):
        app = self.start_without_a_panel(False)
        self.panel = Panel()
        app.wait_registered()
        self.assertEqual(app.layout().labels(), FIXED_MENU)
        # The panel restarts (it crashed, or the user reloaded it): the item comes back.
        self.panel.stop()
        self.panel = Panel()
        app.wait_registered()
        self.assertEqual(app.layout().labels(), FIXED_MENU)

    def test_waits_for_the_panel_host_to_register(self):
        app = self.start_without_a_panel(True)
        self.panel.register_host()
        app.wait_registered()
        self.assertEqual(app.layout().labels(), FIXED_MENU)


if __name__ == "__main__":
    unittest.main(verbosity=2)
