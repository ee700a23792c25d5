"""A StatusNotifier watcher for tests on the bus at argv[1], standing in for a panel's tray.

Prints "ready" once it owns its name, with a host registered, then one JSON object per item that
registers. Reads "host off" and "host on" (the panel's tray host leaves or comes back) from its
standard input, answering "done" once the signal is on the bus, and ends when its input closes.
"""

import json
import sys

import dbus
import dbus.service
from fake_bus_service import serve

NAME = "org.kde.StatusNotifierWatcher"
PATH = "/StatusNotifierWatcher"

# dbus-python leaves properties out of what it tells of an object, and Qt reads only the properties
# an object tells of.
INTROSPECTION = f"""<node>
 <interface name="{NAME}">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <signal name="StatusNotifierHostUnregistered"/>
 </interface>
 <interface name="{dbus.PROPERTIES_IFACE}">
  <method name="Get">
   <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
   <arg name="value" type="v" direction="out"/>
  </method>
  <method name="GetAll">
   <arg name="interface" type="s" direction="in"/><arg name="values" type="a{{sv}}" direction="out"/>
  </method>
 </interface>
 <interface name="{dbus.INTROSPECTABLE_IFACE}">
  <method name="Introspect"><arg name="xml" type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.items = []
        self.host = True

    @dbus.service.method(NAME, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A service name, or an object path on the caller's connection.
        item = sender + str(service) if service.startswith("/") else str(service)
        self.items.append(item)
        print(json.dumps({"method": "RegisterStatusNotifierItem", "item": item}), flush=True)
        self.StatusNotifierItemRegistered(item)

    @dbus.service.method(NAME, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(self.host),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.signal(NAME, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(NAME, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.signal(NAME, signature="")
    def StatusNotifierHostUnregistered(self):
        pass


def act(watcher, stranger, words):
    watcher.host = words[1] == "on"
    if watcher.host:
        watcher.StatusNotifierHostRegistered()
    else:
        watcher.StatusNotifierHostUnregistered()
    return "done"


if __name__ == "__main__":
    serve(sys.argv[1], NAME, Watcher, act)
