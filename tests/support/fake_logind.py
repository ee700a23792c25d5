"""The part of logind the host uses, for tests, on the bus at argv[1].

Prints "ready" once it owns org.freedesktop.login1, then one JSON object per Inhibit call. Reads
commands from its standard input and answers each: "shutdown" sends PrepareForShutdown(true), "resume"
PrepareForShutdown(false) and "spoof" has another client send the first ("done" once the signal is on
the bus); "hold" keeps the answers to Inhibit back until "answer"; "lock?" answers "held" while a
descriptor it handed out is still open somewhere, else "released". Ends when its input closes.
"""

import json
import os
import select
import sys

import dbus
import dbus.lowlevel
import dbus.service
from fake_bus_service import serve

NAME = "org.freedesktop.login1"
PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.locks = []
        self.holding = False
        self.waiting = []

    @dbus.service.method(MANAGER, in_signature="ssss", out_signature="h",
                         async_callbacks=("reply", "error"))
    def Inhibit(self, what, who, why, mode, reply, error):
        print(json.dumps({"method": "Inhibit", "what": what, "who": who, "mode": mode}), flush=True)
        if self.holding:
            self.waiting.append(reply)
        else:
            reply(self.lock())

    def answer(self):
        self.holding = False
        for reply in self.waiting:
            reply(self.lock())
        self.waiting = []

    def lock(self):
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


def act(manager, stranger, words):
    if words[0] == "lock?":
        return "held" if manager.held() else "released"
    if words[0] == "hold":
        manager.holding = True
    elif words[0] == "answer":
        manager.answer()
    elif words[0] in ("shutdown", "resume"):
        manager.PrepareForShutdown(words[0] == "shutdown")
    else:
        signal = dbus.lowlevel.SignalMessage(PATH, MANAGER, "PrepareForShutdown")
        signal.append(True, signature="b")
        stranger.send_message(signal)
    return "done"


if __name__ == "__main__":
    serve(sys.argv[1], NAME, Manager, act)
