#!/usr/bin/python3
"""A GTK window on Wayland to paste into, in GTK 3 or GTK 4.

    target.py 3|4 FOLDER

Writes into FOLDER: 'focus' ("1" while the window is active, else "0"),
'text' (the text field's whole text after every change). F7 empties the
field. F5 reads the clipboard as an application does, asynchronously (a
blocking read in the main loop stalls GTK on GNOME): every type it offers
goes into 'clipboard/' under its percent-encoded name, the list into
'clipboard/types' and, last, 'clipboard/done'."""
import os
import sys
from urllib.parse import quote

import gi

version, folder = sys.argv[1], sys.argv[2]
os.environ.setdefault('GSK_RENDERER', 'cairo')  # llvmpipe's GL is slow to start
gi.require_version('Gtk', f'{version}.0')
gi.require_version('Gdk', f'{version}.0')
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

dump = os.path.join(folder, 'clipboard')
os.makedirs(dump, exist_ok=True)


def put(name, data):
    path = os.path.join(folder, name)
    with open(path + '.new', 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    os.replace(path + '.new', path)


def dump_all(types, read):
    """read(type, done) hands done() the bytes of one type, None on failure."""
    for name in os.listdir(dump):
        os.unlink(os.path.join(dump, name))
    put('clipboard/types', ''.join(t + '\n' for t in types))
    pending = list(types)

    def next_one(*_):
        if not pending:
            put('clipboard/done', '')
            return
        kind = pending.pop(0)

        def done(data):
            if data is not None:
                put('clipboard/' + quote(kind, safe=''), data)
            next_one()
        read(kind, done)
    next_one()


def on_changed(buffer):
    put('text', buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))


def on_key(keyval, buffer, clipboard):
    if keyval == Gdk.KEY_F7:
        buffer.set_text('')
    elif keyval == Gdk.KEY_F5:
        read_clipboard(clipboard)
    else:
        return False
    return True


if version == '3':
    def read_clipboard(clipboard):
        def read(kind, done):
            clipboard.request_contents(
                Gdk.Atom.intern(kind, False),
                lambda _c, selection: done(selection.get_data() if selection.get_length() >= 0
                                           else None))
        clipboard.request_targets(
            lambda _c, atoms, _n: dump_all([a.name() for a in atoms or []], read))

    window = Gtk.Window(title='quillet-gtk3-target')
    view = Gtk.TextView()
    window.add(view)
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    window.connect('key-press-event',
                   lambda _w, event: on_key(event.keyval, view.get_buffer(), clipboard))
    window.connect('destroy', Gtk.main_quit)
    window.connect('notify::is-active', lambda w, _p: put('focus', '1' if w.is_active() else '0'))
    view.get_buffer().connect('changed', on_changed)
    window.set_default_size(600, 300)
    window.show_all()
    Gtk.main()
else:
    def read_clipboard(clipboard):
        def read(kind, done):
            def on_stream(c, result):
                try:
                    stream, _type = c.read_finish(result)
                except GLib.Error:
                    return done(None)
                sink = Gio.MemoryOutputStream.new_resizable()

                def on_spliced(s, r):
                    try:
                        s.splice_finish(r)
                        done(sink.steal_as_bytes().get_data() or b'')
                    except GLib.Error:
                        done(None)
                sink.splice_async(stream, Gio.OutputStreamSpliceFlags.CLOSE_SOURCE |
                                  Gio.OutputStreamSpliceFlags.CLOSE_TARGET,
                                  GLib.PRIORITY_DEFAULT, None, on_spliced)
            clipboard.read_async([kind], GLib.PRIORITY_DEFAULT, None, on_stream)
        dump_all(list(clipboard.get_formats().get_mime_types() or []), read)

    def activate(app):
        window = Gtk.ApplicationWindow(application=app, title='quillet-gtk4-target')
        view = Gtk.TextView()
        window.set_child(view)
        keys = Gtk.EventControllerKey()
        keys.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
        keys.connect('key-pressed', lambda _k, keyval, _code, _state: on_key(
            keyval, view.get_buffer(), window.get_clipboard()))
        window.add_controller(keys)
        window.connect('notify::is-active', lambda w, _p: put('focus', '1' if w.is_active() else '0'))
        view.get_buffer().connect('changed', on_changed)
        window.set_default_size(600, 300)
        window.present()

    app = Gtk.Application(flags=Gio.ApplicationFlags.NON_UNIQUE)
    app.connect('activate', activate)
    app.run([])
