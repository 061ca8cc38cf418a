#!/usr/bin/python3
"""Keeps a keyboard on the headless GNOME seat until SIGTERM.

mutter's headless seat has no input device: no window gets the keyboard
focus until a RemoteDesktop session's virtual keyboard has pressed a key,
and that keyboard leaves with its session. The first press is Escape, which
leaves the overview GNOME starts in. When the session is stopped from
outside (the screen-sharing indicator stops every one), a new one takes its
place. Prints 'ready' once the first one holds the seat."""
import signal

from gi.repository import Gio, GLib

NAME = 'org.gnome.Mutter.RemoteDesktop'
SESSION = NAME + '.Session'
ESCAPE, SHIFT = 0xff1b, 0xffe1
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, iface, method, args=None):
    return bus.call_sync(NAME, path, iface, method, args, None, 0, -1, None)


def hold(first_key):
    path = call('/org/gnome/Mutter/RemoteDesktop', NAME, 'CreateSession').unpack()[0]
    bus.signal_subscribe(NAME, SESSION, 'Closed', path, None, Gio.DBusSignalFlags.NONE,
                         lambda *_: GLib.idle_add(hold, SHIFT) and None)
    call(path, SESSION, 'Start')
    for down in (True, False):
        call(path, SESSION, 'NotifyKeyboardKeysym', GLib.Variant('(ub)', (first_key, down)))
    return False


hold(ESCAPE)
print('ready', flush=True)
loop = GLib.MainLoop()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
