"""A notification server for tests on the bus at argv[1] (argv[2]: --actions or --no-actions).

Prints "ready" once it owns its name, then one JSON object per call it receives. Reads "invoke ID KEY"
(the user pressed button KEY of notice ID), "spoof ID KEY" (another client sends that press) and
"dismiss ID" (the user closed notice ID) from its standard input, answering "done" once the signal is on
the bus, and ends when its input closes.
"""

import json
import sys

import dbus
import dbus.lowlevel
import dbus.service
from fake_bus_service import serve

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
DISMISSED_BY_USER = 2
CLOSED_BY_CALL = 3


def report(call):
    print(json.dumps(call), flush=True)


class Server(dbus.service.Object):
    def __init__(self, bus, shows_actions):
        super().__init__(bus, PATH)
        self.shows_actions = shows_actions
        self.last_id = 0

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        report({"method": "GetCapabilities"})
        return ["body", "actions"] if self.shows_actions else ["body"]

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
        self.last_id += 1
        report({"method": "Notify", "id": self.last_id, "app_name": app_name, "summary": summary,
                "body": body, "actions": list(actions), "hints": {k: str(v) for k, v in hints.items()},
                "expire_timeout": int(expire_timeout)})
        return self.last_id

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, id):
        report({"method": "CloseNotification", "id": int(id)})
        self.NotificationClosed(id, CLOSED_BY_CALL)

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, id, action_key):
        pass

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, id, reason):
        pass


def act(server, stranger, words):
    verb, id, key = words[0], dbus.UInt32(int(words[1])), words[-1]
    if verb == "dismiss":
        server.NotificationClosed(id, DISMISSED_BY_USER)
    elif verb == "invoke":
        server.ActionInvoked(id, key)
    else:
        signal = dbus.lowlevel.SignalMessage(PATH, NAME, "ActionInvoked")
        signal.append(id, key, signature="us")
        stranger.send_message(signal)
    return "done"


if __name__ == "__main__":
    serve(sys.argv[1], NAME, lambda bus: Server(bus, sys.argv[2] == "--actions"), act)
