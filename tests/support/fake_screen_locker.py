"""A screen locker for tests on the bus at argv[1].

argv[2] says which: "logind" serves the caller's session of org.freedesktop.login1
(/org/freedesktop/login1/session/auto, with its LockedHint), "screensaver" serves
org.freedesktop.ScreenSaver (Lock and GetActive). argv[3] says how it takes a lock: "confirms" (the lock
screen is up at once), "never-confirms" or "refuses". Prints "ready" once it owns its name, then the name
of each call it receives, and ends when its input closes.
"""

import sys

import dbus
import dbus.exceptions
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICES = {
    "logind": ("org.freedesktop.login1", "/org/freedesktop/login1/session/auto"),
    "screensaver": ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"),
}
SESSION = "org.freedesktop.login1.Session"
SCREENSAVER = "org.freedesktop.ScreenSaver"


def report(call):
    print(call, flush=True)


class Locker(dbus.service.Object):
    def __init__(self, bus, path, mode):
        super().__init__(bus, path)
        self.mode = mode
        self.locked = False

    def take_lock(self):
        report("Lock")
        if self.mode == "refuses":
            raise dbus.exceptions.DBusException("not allowed", name="org.freedesktop.DBus.Error.AccessDenied")
        self.locked = self.mode == "confirms"


class Logind(Locker):
    @dbus.service.method(SESSION, in_signature="", out_signature="")
    def Lock(self):
        self.take_lock()

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        report(name)
        return dbus.Boolean(self.locked)


class ScreenSaver(Locker):
    @dbus.service.method(SCREENSAVER, in_signature="", out_signature="")
    def Lock(self):
        self.take_lock()

    @dbus.service.method(SCREENSAVER, in_signature="", out_signature="b")
    def GetActive(self):
        report("GetActive")
        return self.locked


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    name, path = SERVICES[sys.argv[2]]
    locker = (Logind if sys.argv[2] == "logind" else ScreenSaver)(bus, path, sys.argv[3])
    owned = dbus.service.BusName(name, bus)
    loop = GLib.MainLoop()

    def closed(source, condition):
        if not sys.stdin.readline():
            loop.quit()
            return False
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, closed)
    print("ready", flush=True)
    loop.run()
    del owned, locker


if __name__ == "__main__":
    main()
