"""A StatusNotifier watcher and host of our own; prints each item that registers.
With --notifications it is the notification service too: it prints each
notification as "notify ID APP|SUMMARY|BODY|ACTIONS", and a line
"invoke ID KEY" on its input is a click on one."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.kde.StatusNotifierWatcher"

# Clients read the properties through the interface as introspected.
INTROSPECTION = """<node><interface name="%s">
 <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
 <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
 <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
 <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
 <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
 <property name="ProtocolVersion" type="i" access="read"/>
</interface><interface name="org.freedesktop.DBus.Properties">
 <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
 <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
</interface></node>""" % IFACE

class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(IFACE, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        # An item may give its path instead of its name; the sender then names it.
        item = service if not service.startswith("/") else sender
        self.items.append(item)
        self.StatusNotifierItemRegistered(item)
        print("registered", item, flush=True)

    @dbus.service.method(IFACE, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0)}

class Notifications(dbus.service.Object):
    IFACE = "org.freedesktop.Notifications"

    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.shown = 0

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.shown += 1
        print("notify %d %s" % (self.shown, "|".join([app, summary, body, ",".join(actions)])), flush=True)
        return self.shown

    @dbus.service.method(IFACE, out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, id, key):
        pass

    def read_input(self, source, _):
        line = source.readline().split()
        if len(line) == 3 and line[0] == "invoke":
            self.ActionInvoked(int(line[1]), line[2])
        return True

if __name__ == "__main__":
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    # A later stand-in takes the name over, as a panel started with --replace does.
    name = dbus.service.BusName(IFACE, bus, allow_replacement=True, replace_existing=True,
                                do_not_queue=True)
    if "--notifications" in sys.argv:
        notifications = Notifications(bus)
        served = dbus.service.BusName(Notifications.IFACE, bus)
        GLib.io_add_watch(sys.stdin, GLib.IO_IN, notifications.read_input)
    print("watching", flush=True)
    GLib.MainLoop().run()
