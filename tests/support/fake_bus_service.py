"""What the tests' fake D-Bus services share: one service object on the bus at `address`, under
`name`, and a command loop on standard input.

Prints "ready" once the name is owned. Each line of input goes to `act(service, stranger, words)`,
where `stranger` is a second connection for messages that must come from another client; its answer is
printed once everything it sent is on the bus. Ends when the input closes.
"""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


def serve(address, name, make, act):
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    stranger = dbus.bus.BusConnection(address)
    service = make(bus)
    owned = dbus.service.BusName(name, bus)
    loop = GLib.MainLoop()

    def command(source, condition):
        words = sys.stdin.readline().split()
        if not words:
            loop.quit()
            return False
        answer = act(service, stranger, words)
        bus.flush()
        stranger.flush()
        print(answer, flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print("ready", flush=True)
    loop.run()
    del owned
