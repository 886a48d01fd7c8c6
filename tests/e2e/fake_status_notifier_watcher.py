#!/usr/bin/env python3
"""A StatusNotifierWatcher for tests: what a desktop panel registers on the session bus.

It owns org.kde.StatusNotifierWatcher at /StatusNotifierWatcher, answers introspection with its
whole interface (properties included, which is what Qt reads before it decides to publish its
tray icons over D-Bus), records every RegisterStatusNotifierItem and forgets an item when its
owner leaves the bus.

Options:
  --no-host   start with IsStatusNotifierHostRegistered false; SIGUSR1 registers the host
              (and emits StatusNotifierHostRegistered)
Prints "READY" on standard output once the name is owned.
"""
import argparse
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.kde.StatusNotifierWatcher"
PATH = "/StatusNotifierWatcher"
IFACE = "org.kde.StatusNotifierWatcher"
PROPS = "org.freedesktop.DBus.Properties"

INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg direction="out" type="s"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="out" type="v"/>
    </method>
    <method name="GetAll">
      <arg direction="in" type="s"/><arg direction="out" type="a{sv}"/>
    </method>
    <method name="Set">
      <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="v"/>
    </method>
    <signal name="PropertiesChanged">
      <arg type="s"/><arg type="a{sv}"/><arg type="as"/>
    </signal>
  </interface>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" direction="in" type="s"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" direction="in" type="s"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, host_registered):
        super().__init__(bus, PATH)
        self.bus = bus
        self.host_registered = host_registered
        self.items = []  # (owner, "service/path") in order of registration
        bus.add_signal_receiver(self._owner_changed, signal_name="NameOwnerChanged",
                                dbus_interface="org.freedesktop.DBus")

    def _props(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array([i for _, i in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(self.host_registered),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        props = self._props()
        if interface != IFACE or name not in props:
            raise dbus.exceptions.DBusException("no such property", name=
                                                "org.freedesktop.DBus.Error.UnknownProperty")
        return props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self._props() if interface == IFACE else {}

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, interface, name, value):
        raise dbus.exceptions.DBusException("read-only", name=
                                            "org.freedesktop.DBus.Error.PropertyReadOnly")

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.method(IFACE, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names its bus name (path /StatusNotifierItem) or only its object path.
        if service.startswith("/"):
            entry = sender + service
        else:
            entry = service + "/StatusNotifierItem"
        self.items = [(o, i) for o, i in self.items if i != entry]
        self.items.append((sender, entry))
        print("REGISTERED " + entry, flush=True)
        self.StatusNotifierItemRegistered(entry)

    @dbus.service.method(IFACE, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.register_host()

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(IFACE, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def register_host(self):
        if not self.host_registered:
            self.host_registered = True
            self.StatusNotifierHostRegistered()

    def _owner_changed(self, name, old, new):
        if new or not old:
            return
        gone = [i for o, i in self.items if o == old or i.startswith(name + "/")]
        self.items = [(o, i) for o, i in self.items if i not in gone]
        for entry in gone:
            print("UNREGISTERED " + entry, flush=True)
            self.StatusNotifierItemUnregistered(entry)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--no-host", action="store_true")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus, host_registered=not args.no_host)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1,
                         lambda: (watcher.register_host(), True)[1])
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, lambda: (loop.quit(), False)[1])
    name = dbus.service.BusName(SERVICE, bus, do_not_queue=True)
    print("READY", flush=True)
    loop.run()
    del name


if __name__ == "__main__":
    sys.exit(main())
