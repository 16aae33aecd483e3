# Every method of every interface once through the bus, the owner check
# between two connections, and malformed calls answered with errors while
# the server keeps serving. Prints "every method: ok" and exits 0.
import os
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)

NAME = "Corvane.OPCAEqrxServer._1"
AE = "org.opcfoundation.AE."
E_INVALIDARG = AE + "Error.HRESULT_80070057"
E_ACCESSDENIED = AE + "Error.HRESULT_80070005"

bus = dbus.SessionBus()


def iface(path, name, connection=bus):
    return dbus.Interface(connection.get_object(NAME, path), AE + name)


def expect_error(name, call, *args):
    try:
        call(*args)
    except dbus.DBusException as e:
        assert e.get_dbus_name() == name, (e.get_dbus_name(), name)
        return
    raise AssertionError("no error " + name)


server_class = iface("/Server", "ServerClass")
hr, path = server_class.CreateInstance()
assert hr == 0
es = iface(path, "IOPCEventServer")
common = iface(path, "IOPCCommon")

status = es.GetStatus()
assert status[0] == 0 and status[4] == 1, status
assert es.QueryAvailableFilters()[1] & 0x1F
hr, categories, texts = es.QueryEventCategories(7)
assert categories and len(categories) == len(texts)
hr, conditions = es.QueryConditionNames(categories[0])
assert hr == 0
if conditions:
    assert es.QuerySubConditionNames(conditions[0])[0] >= 0
hr, ids, descriptions, types = es.QueryEventAttributes(categories[0])
assert len(ids) == len(descriptions) == len(types)

hr, browser_path = es.CreateAreaBrowser()
browser = iface(browser_path, "IOPCEventAreaBrowser")
hr, areas = browser.BrowseOPCAreas(1, "")
# A server just started by activation may still be building its areas.
for _ in range(300):
    if areas:
        break
    time.sleep(0.1)
    hr, areas = browser.BrowseOPCAreas(1, "")
assert areas
hr, area = browser.GetQualifiedAreaName(areas[0])
assert area == areas[0]
assert browser.ChangeBrowsePosition(2, areas[0]) == 0
hr, sources = browser.BrowseOPCAreas(2, "*")
while not sources:
    hr, sub = browser.BrowseOPCAreas(1, "")
    browser.ChangeBrowsePosition(2, sub[0])  # noqa: the first area below
    hr, sources = browser.BrowseOPCAreas(2, "*")
hr, source = browser.GetQualifiedSourceName(sources[0])
assert browser.ChangeBrowsePosition(1, "") == 0
expect_error(AE + "Error.HRESULT_C0040203", browser.ChangeBrowsePosition, 2, "NoSuchArea")
expect_error(E_INVALIDARG, browser.BrowseOPCAreas, 1, "[")

hr, names = es.QuerySourceConditions(source)
assert names
state = es.GetConditionState(source, names[0], dbus.Array(ids[:1], signature="u"))
assert state[0] == 0 and len(state[-1]) == len(ids[:1]), state
try:  # the server may have no item IDs to give: then its own HRESULT
    es.TranslateToItemIDs(source, categories[0], names[0], "", dbus.Array([], signature="u"))
except dbus.DBusException as e:
    assert e.get_dbus_name().startswith(AE + "Error.HRESULT_"), e.get_dbus_name()
hr, errors = es.AckCondition("tester", "", [source], [names[0]], dbus.Array([0], signature="t"),
                             dbus.Array([0], signature="u"))
assert len(errors) == 1
for method in ("DisableConditionBySource", "EnableConditionBySource"):
    assert getattr(es, method)([source]) == 0
for method in ("DisableConditionByArea", "EnableConditionByArea"):
    assert getattr(es, method)([area]) == 0

# The 1.10 methods: per-name codes, the hierarchy in the effective state.
es2 = iface(path, "IOPCEventServer2")
S_FALSE = 1
hr, errors = es2.DisableConditionByArea2([area, "NoSuchArea"])
assert hr == S_FALSE and errors[0] == 0 and errors[1] == -2147024809, (hr, errors)
hr, enabled, effective, errors = es2.GetEnableStateByArea([area])
assert (hr, list(enabled), list(effective)) == (0, [False], [False]), (hr, enabled, effective)
hr, errors = es2.EnableConditionBySource2([source])
assert (hr, list(errors)) == (0, [0])
hr, enabled, effective, errors = es2.GetEnableStateBySource([source, "NoSuchSource"])
assert hr == S_FALSE and list(enabled) == [True, False] and list(effective) == [False, False], (enabled, effective)
assert errors[1] == -2147024809
assert es2.EnableConditionByArea2([area]) == (0, [0])
assert es2.DisableConditionBySource2([source]) == (0, [0])
assert list(es2.GetEnableStateBySource([source])[1:3]) == [[False], [False]]
assert es2.EnableConditionBySource2([source]) == (0, [0])
hr, enabled, effective, errors = es2.GetEnableStateBySource([source])
assert list(enabled) == [True] and list(effective) == [True]
expect_error(E_INVALIDARG, es2.GetEnableStateByArea, ["x"] * 70000)

assert common.SetClientName("every method") == 0
hr, locales = common.QueryAvailableLocaleIDs()
assert common.SetLocaleID(locales[0]) == 0
assert common.GetLocaleID() == (0, locales[0])
assert common.GetErrorString(-2147024809)[1]

hr, sub_path, buffer_time, max_size = es.CreateEventSubscription(True, 100, 50, 7)
sub = iface(sub_path, "IOPCEventSubscriptionMgt")
point = iface(sub_path, "IConnectionPoint")
assert sub.SetFilter(7, dbus.Array([], signature="u"), 1, 1000, dbus.Array([], signature="s"), [source]) == 0
assert sub.GetFilter()[6] == [source]
assert sub.SelectReturnedAttributes(categories[0], dbus.Array(ids[:1], signature="u")) == 0
assert list(sub.GetReturnedAttributes(categories[0])[1]) == list(ids[:1])
assert sub.GetState()[4] == 7
assert sub.SetState(dbus.Array([True], signature="b"), dbus.Array([], signature="u"),
                    dbus.Array([], signature="u"), 8)[0] >= 0
sub2 = iface(sub_path, "IOPCEventSubscriptionMgt2")
assert sub2.GetKeepAlive() == (0, 0)
hr, revised = sub2.SetKeepAlive(300)
assert hr in (0, 0x00040203) and revised > 0, (hr, revised)
assert sub2.GetKeepAlive() == (0, revised)
hr, cookie = point.Advise()
got = []
bus.add_signal_receiver(lambda *a: got.append(a), "OnEvent", AE + "IOPCEventSink", NAME, sub_path)
loop = GLib.MainLoop()

# The filter passes nothing that happens now: what comes is keep-alives,
# OnEvent with no events, neither refresh nor last refresh. A loaded machine
# may be late with the first one: wait for it, up to 10 s.
def keep_alive(a):
    return not a[1] and not a[2] and len(a[3]) == 0


def stop_at_keep_alive():
    if any(keep_alive(a) for a in got):
        loop.quit()
        return False
    return True


GLib.timeout_add(50, stop_at_keep_alive)
GLib.timeout_add(10000, loop.quit)
loop.run()
assert [a for a in got if keep_alive(a)], got
assert sub2.SetKeepAlive(0) == (0, 0)
got.clear()
assert sub.Refresh(cookie) == 0


def stop_at_last():
    if any(a[1] and a[2] for a in got):
        loop.quit()
        return False
    return True


GLib.timeout_add(50, stop_at_last)
GLib.timeout_add(10000, loop.quit)
loop.run()
assert any(a[1] and a[2] for a in got), got
assert all(a[0] == 8 for a in got)
assert sub.Refresh(cookie) == 0
try:  # the refresh may be over already: then the server's refusal
    assert sub.CancelRefresh(cookie) == 0
except dbus.DBusException as e:
    assert e.get_dbus_name().startswith(AE + "Error.HRESULT_"), e.get_dbus_name()
assert point.Unadvise(cookie) == 0
expect_error(AE + "Error.HRESULT_80040200", point.Unadvise, cookie)

# Another client may not use these objects.
other = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
expect_error(E_ACCESSDENIED, iface(path, "IOPCEventServer", other).GetStatus)
expect_error(E_ACCESSDENIED, iface(sub_path, "IOPCEventSubscriptionMgt", other).GetState)
expect_error(E_ACCESSDENIED, iface(browser_path, "IOPCEventAreaBrowser", other).BrowseOPCAreas, 1, "")

# Malformed calls.
raw = bus.call_blocking
expect_error("org.freedesktop.DBus.Error.InvalidArgs", raw, NAME, path, AE + "IOPCEventServer",
             "QuerySourceConditions", "u", [5])
expect_error("org.freedesktop.DBus.Error.UnknownObject", raw, NAME, "/EventServer/999999",
             AE + "IOPCEventServer", "GetStatus", "", [])
expect_error(E_INVALIDARG, es.EnableConditionBySource, ["x"] * 70000)
expect_error(E_INVALIDARG, sub.SetFilter, 7, dbus.Array([], signature="u"), 1, 1000, ["["],
             dbus.Array([], signature="s"))
expect_error(E_INVALIDARG, es.AckCondition, "tester", "", [source], [], dbus.Array([], signature="t"),
             dbus.Array([], signature="u"))

# Still serving after all that; a released object is gone at once.
assert es.GetStatus()[4] == 1
assert iface(sub_path, "IUnknown").Release() == 0
expect_error("org.freedesktop.DBus.Error.UnknownObject", sub.GetState)
assert es.GetStatus()[4] == 1
for p in (browser_path, path):
    assert iface(p, "IUnknown").Release() == 0
print("every method: ok")
