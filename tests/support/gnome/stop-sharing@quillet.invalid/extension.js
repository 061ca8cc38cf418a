/* For the tests only: org.quillet.Test.StopSharing.Stop() does what the top
 * bar's screen-sharing indicator does when the user clicks it: it ends every
 * remote-desktop session, as a user stopping the program's would. */
const { Gio } = imports.gi;
const Main = imports.ui.main;

const IFACE = `<node><interface name="org.quillet.Test.StopSharing">
  <method name="Stop"><arg type="b" direction="out" name="shown"/></method>
</interface></node>`;

class Extension {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(IFACE, {
            Stop() {
                const indicator = Main.panel.statusArea.screenSharing;
                const shown = indicator.visible;
                indicator._stopSharing();
                return shown;
            },
        });
        this._object.export(Gio.DBus.session, '/org/quillet/Test/StopSharing');
        this._name = Gio.bus_own_name(Gio.BusType.SESSION, 'org.quillet.Test.StopSharing',
            Gio.BusNameOwnerFlags.NONE, null, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._object.unexport();
    }
}

function init() {
    return new Extension();
}
