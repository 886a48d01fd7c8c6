#!/usr/bin/env python3
"""Fake desktop services on the session bus; prints "READY" once the name is owned.

  fake_desktop_services.py watcher [--no-host]
      org.kde.StatusNotifierWatcher, the panel's side of the tray. Introspection lists its
      properties (Qt reads IsStatusNotifierHostRegistered from it before it publishes a tray
      icon over D-Bus). --no-host starts without a host; SIGUSR1 registers one.
  fake_desktop_services.py notifications --record FILE [--markup]
      org.freedesktop.Notifications; appends every Notify to FILE as one JSON object per line,
      hints as {name: {"type": D-Bus type code, "value": value}}. --markup announces
      "body-markup".
"""
import argparse
import json
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
PROPS = "org.freedesktop.DBus.Properties"
NOTIFICATIONS = "org.freedesktop.Notifications"

WATCHER_XML = f"""<node>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg direction="out" type="s"/></method>
  </interface>
  <interface name="{PROPS}">
    <method name="Get">
      <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="out" type="v"/>
    </method>
    <method name="GetAll"><arg direction="in" type="s"/><arg direction="out" type="a{{sv}}"/></method>
  </interface>
  <interface name="{WATCHER}">
    <method name="RegisterStatusNotifierItem"><arg name="service" direction="in" type="s"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" direction="in" type="s"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.host_registered = not args.no_host
        self.items = []  # (owner, "service/path") in order of registration
        bus.add_signal_receiver(self._owner_changed, signal_name="NameOwnerChanged",
                                dbus_interface="org.freedesktop.DBus")
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1,
                             lambda: (self.RegisterStatusNotifierHost(""), True)[1])

    def _props(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array([i for _, i in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(self.host_registered),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        props = self._props()
        if interface != WATCHER or name not in props:
            raise dbus.exceptions.DBusException(
                "no such property", name="org.freedesktop.DBus.Error.UnknownProperty")
        return props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self._props() if interface == WATCHER else {}

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names its bus name (path /StatusNotifierItem) or only its object path.
        entry = sender + service if service.startswith("/") else service + "/StatusNotifierItem"
        self.items = [(o, i) for o, i in self.items if i != entry] + [(sender, entry)]
        self.StatusNotifierItemRegistered(entry)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        if not self.host_registered:
            self.host_registered = True
            self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def _owner_changed(self, name, old, new):
        if new or not old:
            return
        gone = [i for o, i in self.items if o == old or i.startswith(name + "/")]
        self.items = [(o, i) for o, i in self.items if i not in gone]
        for entry in gone:
            self.StatusNotifierItemUnregistered(entry)


TYPE_CODES = [
    (dbus.Boolean, "b"), (dbus.Byte, "y"), (dbus.Int16, "n"), (dbus.UInt16, "q"),
    (dbus.Int32, "i"), (dbus.UInt32, "u"), (dbus.Int64, "x"), (dbus.UInt64, "t"),
    (dbus.Double, "d"), (dbus.ObjectPath, "o"), (dbus.Signature, "g"), (dbus.String, "s"),
]


def type_code(value):
    return next((code for cls, code in TYPE_CODES if isinstance(value, cls)), "?")


def plain(value):
    if isinstance(value, (list, tuple)):  # dbus.Array, dbus.Struct
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, float):
        return float(value)
    if isinstance(value, int):
        return int(value)
    return str(value)


class Notifications(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.args = args
        self.last_id = 0

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints,
               expire_timeout):
        entry = {
            "app_name": str(app_name), "replaces_id": int(replaces_id),
            "app_icon": str(app_icon), "summary": str(summary), "body": str(body),
            "actions": [str(a) for a in actions], "expire_timeout": int(expire_timeout),
            "hints": {str(k): {"type": type_code(v), "value": plain(v)} for k, v in hints.items()},
        }
        with open(self.args.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(entry, ensure_ascii=False) + "\n")
        self.last_id += 1
        return dbus.UInt32(self.last_id)

    @dbus.service.method(NOTIFICATIONS, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return dbus.Array(["body", "sound"] + (["body-markup"] if self.args.markup else []),
                          signature="s")

    @dbus.service.method(NOTIFICATIONS, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("kestrova-test-notifications", "Kestrova tests", "1.0", "1.2")


def main():
    parser = argparse.ArgumentParser()
    kinds = parser.add_subparsers(dest="kind", required=True)
    kinds.add_parser("watcher").add_argument("--no-host", action="store_true")
    notify = kinds.add_parser("notifications")
    notify.add_argument("--record", required=True)
    notify.add_argument("--markup", action="store_true")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service, cls = {"watcher": (WATCHER, Watcher),
                    "notifications": (NOTIFICATIONS, Notifications)}[args.kind]
    obj = cls(bus, args)  # noqa: F841 (exported while it lives)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, lambda: (loop.quit(), False)[1])
    name = dbus.service.BusName(service, bus, do_not_queue=True)  # noqa: F841
    print("READY", flush=True)
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
