#!/usr/bin/python3
# An OPC AE client of aeserver over D-Bus in a few lines of python3-dbus:
# the server's state, its top areas, then the live events for a while.
#   docs/opcae_client_example.py [--seconds N]
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

NAME = "Corvane.OPCAEqrxServer._1"  # from the ProgID Corvane.OPCAEqrxServer.1
AE = "org.opcfoundation.AE."

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


def iface(path, name):
    return dbus.Interface(bus.get_object(NAME, path), AE + name)


seconds = int(sys.argv[sys.argv.index("--seconds") + 1]) if "--seconds" in sys.argv else 10

# The first call starts the server when it is not running.
hr, server_path = iface("/Server", "ServerClass").CreateInstance()
server = iface(server_path, "IOPCEventServer")
status = server.GetStatus()
print("server state", int(status[4]), "vendor", status[8])

hr, browser_path = server.CreateAreaBrowser()
hr, areas = iface(browser_path, "IOPCEventAreaBrowser").BrowseOPCAreas(1, "")  # OPC_AREA
print("areas:", ", ".join(areas))

# active, buffer time (ms), max size, client handle
hr, sub_path, buffer_time, max_size = server.CreateEventSubscription(True, 200, 100, 1)


def on_event(handle, refresh, last, events):
    for e in events:
        # (change mask, new state, source, time, message, type, category,
        #  severity, condition, subcondition, ...)
        print("event", e[2], e[8], "severity", int(e[7]), e[4])


bus.add_signal_receiver(on_event, "OnEvent", AE + "IOPCEventSink", NAME, sub_path)
iface(sub_path, "IConnectionPoint").Advise()
loop = GLib.MainLoop()
GLib.timeout_add(seconds * 1000, loop.quit)
loop.run()
for path in (sub_path, browser_path, server_path):
    iface(path, "IUnknown").Release()
