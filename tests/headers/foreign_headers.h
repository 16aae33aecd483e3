// The Qt Widgets, X11 and GLib headers that the window and the D-Bus
// transport bring in, in the one order that works among themselves: Xlib's
// macros (None, Bool, Status, KeyPress ...) break Qt's own headers when Xlib
// comes first, as in any Qt program.
#pragma once

#include <QtWidgets>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <glib.h>
