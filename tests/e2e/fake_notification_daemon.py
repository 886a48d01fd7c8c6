#!/usr/bin/env python3
"""A notification server for tests: owns org.freedesktop.Notifications and appends every Notify
it receives to a file, one JSON object per line:
  {"app_name", "replaces_id", "app_icon", "summary", "body", "actions", "expire_timeout",
   "hints": {name: {"type": D-Bus type code, "value": value}}}

Options:
  --record FILE   where the calls go (required)
  --markup        announce the "body-markup" capability
Prints "READY" on standard output once the name is owned.
"""
import argparse
import json
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"

TYPE_CODES = [
    (dbus.Boolean, "b"), (dbus.Byte, "y"), (dbus.Int16, "n"), (dbus.UInt16, "q"),
    (dbus.Int32, "i"), (dbus.UInt32, "u"), (dbus.Int64, "x"), (dbus.UInt64, "t"),
    (dbus.Double, "d"), (dbus.ObjectPath, "o"), (dbus.Signature, "g"), (dbus.String, "s"),
]


def type_code(value):
    for cls, code in TYPE_CODES:
        if isinstance(value, cls):
            return code
    return "?"


def plain(value):
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Double, float)):
        return float(value)
    if isinstance(value, int):
        return int(value)
    if isinstance(value, (dbus.Struct, tuple)):
        return [plain(v) for v in value]
    return str(value)


class Server(dbus.service.Object):
    def __init__(self, bus, record, markup):
        super().__init__(bus, PATH)
        self.record = record
        self.markup = markup
        self.next_id = 1

    @dbus.service.method(SERVICE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints,
               expire_timeout):
        entry = {
            "app_name": str(app_name), "replaces_id": int(replaces_id),
            "app_icon": str(app_icon), "summary": str(summary), "body": str(body),
            "actions": [str(a) for a in actions], "expire_timeout": int(expire_timeout),
            "hints": {str(k): {"type": type_code(v), "value": plain(v)} for k, v in hints.items()},
        }
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(entry, ensure_ascii=False) + "\n")
        self.next_id += 1
        return dbus.UInt32(self.next_id - 1)

    @dbus.service.method(SERVICE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        caps = ["body", "sound"]
        if self.markup:
            caps.append("body-markup")
        return dbus.Array(caps, signature="s")

    @dbus.service.method(SERVICE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("kestrova-test-notifications", "Kestrova tests", "1.0", "1.2")

    @dbus.service.method(SERVICE, in_signature="u")
    def CloseNotification(self, notification_id):
        self.NotificationClosed(notification_id, dbus.UInt32(3))

    @dbus.service.signal(SERVICE, signature="uu")
    def NotificationClosed(self, notification_id, reason):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--markup", action="store_true")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Server(bus, args.record, args.markup)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, lambda: (loop.quit(), False)[1])
    name = dbus.service.BusName(SERVICE, bus, do_not_queue=True)
    print("READY", flush=True)
    loop.run()
    del name


if __name__ == "__main__":
    sys.exit(main())
