"""The part of logind the host uses, for tests, on the bus at argv[1].

Prints "ready" once it owns org.freedesktop.login1, then one JSON object per Inhibit call. Reads
commands from its standard input and answers each: "shutdown" sends PrepareForShutdown(true), "resume"
PrepareForShutdown(false) and "spoof" has another client send the first ("done" once the signal is on
the bus); "lock?" answers "held"
while a descriptor it handed out is still open somewhere, else "released". Ends when its input closes.
"""

import json
import os
import select
import sys

import dbus
import dbus.lowlevel
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.login1"
PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.locks = []

    @dbus.service.method(MANAGER, in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        print(json.dumps({"method": "Inhibit", "what": what, "who": who, "mode": mode}), flush=True)
        read_end, write_end = os.pipe()
        self.locks.append(read_end)
        handed = dbus.types.UnixFd(write_end)
        os.close(write_end)
        return handed

    def held(self):
        # A lock is let go once every copy of its write end is closed: its read end then reads end of file.
        for read_end in self.locks:
            ready, _, _ = select.select([read_end], [], [], 0)
            if not ready:
                return True
        return False

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForShutdown(self, start):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    stranger = dbus.bus.BusConnection(sys.argv[1])
    manager = Manager(bus)
    name = dbus.service.BusName(NAME, bus)
    loop = GLib.MainLoop()

    def command(source, condition):
        words = sys.stdin.readline().split()
        if not words:
            loop.quit()
            return False
        if words[0] == "lock?":
            print("held" if manager.held() else "released", flush=True)
            return True
        if words[0] in ("shutdown", "resume"):
            manager.PrepareForShutdown(words[0] == "shutdown")
        else:
            signal = dbus.lowlevel.SignalMessage(PATH, MANAGER, "PrepareForShutdown")
            signal.append(True, signature="b")
            stranger.send_message(signal)
        bus.flush()
        stranger.flush()
        print("done", flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print("ready", flush=True)
    loop.run()
    del name


if __name__ == "__main__":
    main()
