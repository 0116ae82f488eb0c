// The window control Tovak asks of GNOME Shell, on the Shell's own session bus connection at
// /org/tovak/Tovak/WindowControl (bus name org.gnome.Shell), for Tovak's process alone.
//
// Wayland keeps programs from seeing and driving each other's windows; this object must not undo
// that. So it answers only a process whose executable is the installed Tovak (the file at
// <prefix>/bin/tovak beside the <prefix>/share this extension was installed into), found through
// the bus's record of the caller's process, and compared by file identity (device and inode), which
// a path seen through another mount namespace cannot fake. More executables may be named, one
// absolute path per line, in the file "allowed-callers" beside this one; it counts only when whoever
// can write it could rewrite this code anyway: same owner as this file and its folder, and none of the
// three writable by group or others. So a system-wide copy is widened only by root, and a copy in a
// user's own folder (as tests install it) gains nothing its owner could not give it by editing it.
//
// Against the user's own programs this check is advisory: one that starts the installed Tovak with a
// library of its own (LD_PRELOAD), or connects to the bus and then has that process exec Tovak while a
// child keeps the connection, or is allowed to debug Tovak, is answered as Tovak. Such a program could
// as well install an extension of its own for the next login. What it gains here is kept small: names
// must look like a file's (an extension, at most 255 bytes), and each caller may ask about at most 10
// different names in 10 minutes, so window titles cannot be read a guess at a time.
//
// It offers nothing else: count, raise and close windows whose title contains a file's name, place
// Tovak's panel (found by its exact title) above and on every workspace, and the geometry of the
// monitor holding the focused window.

const TOVAK_WINDOW_CONTROL_PATH = '/org/tovak/Tovak/WindowControl';
const TOVAK_WINDOW_CONTROL_XML = `<node>
  <interface name="org.tovak.Tovak.WindowControl">
    <method name="CountWindows">
      <arg name="titlePart" type="s" direction="in"/>
      <arg name="count" type="u" direction="out"/>
    </method>
    <method name="RaiseWindows">
      <arg name="titlePart" type="s" direction="in"/>
      <arg name="raised" type="u" direction="out"/>
    </method>
    <method name="CloseWindows">
      <arg name="titlePart" type="s" direction="in"/>
      <arg name="asked" type="u" direction="out"/>
    </method>
    <method name="PlacePanel">
      <arg name="title" type="s" direction="in"/>
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
      <arg name="width" type="i" direction="in"/>
      <arg name="height" type="i" direction="in"/>
      <arg name="placed" type="u" direction="out"/>
    </method>
    <method name="ActiveScreen">
      <arg name="known" type="b" direction="out"/>
      <arg name="x" type="i" direction="out"/>
      <arg name="y" type="i" direction="out"/>
      <arg name="width" type="i" direction="out"/>
      <arg name="height" type="i" direction="out"/>
    </method>
  </interface>
</node>`;

const TOVAK_NAMES_PER_CALLER = 10;
const TOVAK_NAMES_MICROSECONDS = 10 * 60 * 1000 * 1000;

// Whether text could be a file's name: an extension after its last dot, no slash, at most 255 bytes.
function tovakLooksLikeFileName(text) {
    return !text.includes('/') && /[^]\.[\p{L}\p{N}]+$/u.test(text) && new TextEncoder().encode(text).length <= 255;
}

// Device and inode of the file at path, symbolic links (and /proc's magic links) followed; null
// when it cannot be read.
function tovakFileIdentity(path) {
    try {
        const info = Gio.File.new_for_path(path).query_info('unix::device,unix::inode',
            Gio.FileQueryInfoFlags.NONE, null);
        return `${info.get_attribute_uint32('unix::device')}:${info.get_attribute_uint64('unix::inode')}`;
    } catch (e) {
        return null;
    }
}

// Owner and mode of a file or folder itself, never of what a link points to.
function tovakOwnership(file) {
    const info = file.query_info('unix::uid,unix::mode', Gio.FileQueryInfoFlags.NOFOLLOW_SYMLINKS, null);
    return {uid: info.get_attribute_uint32('unix::uid'), mode: info.get_attribute_uint32('unix::mode')};
}

// The executables allowed to call, by path: the installed Tovak, and those of a trusted list.
function tovakAllowedExecutables(extensionDir) {
    const prefix = extensionDir.get_parent()?.get_parent()?.get_parent()?.get_parent();
    const allowed = prefix ? [prefix.get_child('bin').get_child('tovak').get_path()] : [];
    const list = extensionDir.get_child('allowed-callers');
    try {
        const owners = [list, extensionDir.get_child('extension.js'), extensionDir].map(tovakOwnership);
        const trusted = owners.every(o => o.uid === owners[0].uid && (o.mode & 0o022) === 0) &&
            (owners[0].mode & 0o170000) === 0o100000;
        if (trusted) {
            const [, bytes] = list.load_contents(null);
            for (const line of new TextDecoder().decode(bytes).split('\n')) {
                if (line.trim().startsWith('/'))
                    allowed.push(line.trim());
            }
        }
    } catch (e) {
        // No list: the installed Tovak alone.
    }
    return allowed;
}

class TovakWindowControl {
    constructor(extensionDir) {
        this._extensionDir = extensionDir;
        this._exported = null;
        // Per caller's process: each name it asked about, with when it last did.
        this._asked = new Map();
    }

    _now() {
        return GLib.get_monotonic_time();
    }

    // Whether the caller pid may ask about name: one it asked about within the last 10 minutes, or a
    // new one while it has asked about fewer than 10 others.
    _admit(pid, name) {
        const now = this._now();
        for (const [caller, names] of this._asked) {
            for (const [asked, when] of names) {
                if (now - when >= TOVAK_NAMES_MICROSECONDS)
                    names.delete(asked);
            }
            if (names.size === 0)
                this._asked.delete(caller);
        }
        const names = this._asked.get(pid) ?? new Map();
        if (!names.has(name) && names.size >= TOVAK_NAMES_PER_CALLER)
            return false;
        this._asked.set(pid, names.set(name, now));
        return true;
    }

    export() {
        this._allowed = tovakAllowedExecutables(this._extensionDir);
        this._exported = Gio.DBusExportedObject.wrapJSObject(TOVAK_WINDOW_CONTROL_XML, this);
        this._exported.export(Gio.DBus.session, TOVAK_WINDOW_CONTROL_PATH);
    }

    unexport() {
        this._exported?.unexport();
        this._exported = null;
    }

    // Runs operation for an allowed caller and returns its values; anyone else is refused, and so is
    // a name (when given) that is no file's or one too many.
    _answer(invocation, signature, operation, name) {
        const refuse = () => invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
            'Only Tovak may use this interface');
        invocation.get_connection().call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetConnectionUnixProcessID',
            new GLib.Variant('(s)', [invocation.get_sender()]), new GLib.VariantType('(u)'),
            Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                try {
                    const [pid] = connection.call_finish(result).deepUnpack();
                    const caller = tovakFileIdentity(`/proc/${pid}/exe`);
                    if (caller === null || !this._allowed.some(path => tovakFileIdentity(path) === caller)) {
                        refuse();
                        return;
                    }
                    if (name !== undefined && !tovakLooksLikeFileName(name)) {
                        invocation.return_dbus_error('org.freedesktop.DBus.Error.InvalidArgs', 'Not a file name');
                        return;
                    }
                    if (name !== undefined && !this._admit(pid, name)) {
                        invocation.return_dbus_error('org.freedesktop.DBus.Error.LimitsExceeded',
                            'Too many different names');
                        return;
                    }
                } catch (e) {
                    refuse();
                    return;
                }
                try {
                    invocation.return_value(new GLib.Variant(signature, operation()));
                } catch (e) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', `${e}`);
                }
            });
    }

    // Every managed window whose title contains titlePart.
    _windowsTitled(titlePart) {
        return global.display.list_all_windows().filter(w => (w.get_title() ?? '').includes(titlePart));
    }

    CountWindowsAsync([titlePart], invocation) {
        this._answer(invocation, '(u)', () => [this._windowsTitled(titlePart).length], titlePart);
    }

    RaiseWindowsAsync([titlePart], invocation) {
        this._answer(invocation, '(u)', () => {
            const windows = this._windowsTitled(titlePart);
            const active = global.workspace_manager.get_active_workspace_index();
            for (const window of windows) {
                // A window on every workspace has none of its own: it is raised where the user is.
                const workspace = window.is_on_all_workspaces() ? active : window.get_workspace().index();
                Main.activateWindow(window, global.get_current_time(), workspace);
            }
            return [windows.length];
        }, titlePart);
    }

    CloseWindowsAsync([titlePart], invocation) {
        this._answer(invocation, '(u)', () => {
            const windows = this._windowsTitled(titlePart).filter(w => w.can_close());
            for (const window of windows)
                window.delete(global.get_current_time());
            return [windows.length];
        }, titlePart);
    }

    PlacePanelAsync([title, x, y, width, height], invocation) {
        this._answer(invocation, '(u)', () => {
            const windows = global.display.list_all_windows().filter(w => w.get_title() === title);
            const place = window => {
                window.make_above();
                window.stick();
                if (width > 0 && height > 0)
                    window.move_resize_frame(false, x, y, width, height);
                else
                    window.move_frame(false, x, y);
            };
            for (const window of windows) {
                place(window);
                // A window not yet on screen is put where the Shell's own placement wants it when it
                // first shows; it is placed again then.
                if (!window.get_compositor_private()?.visible) {
                    const shown = window.connect('shown', () => {
                        window.disconnect(shown);
                        place(window);
                    });
                }
            }
            return [windows.length];
        });
    }

    ActiveScreenAsync(params, invocation) {
        this._answer(invocation, '(biiii)', () => {
            const focused = global.display.focus_window;
            if (!focused || focused.get_monitor() < 0)
                return [false, 0, 0, 0, 0];
            const area = global.display.get_monitor_geometry(focused.get_monitor());
            return [true, area.x, area.y, area.width, area.height];
        });
    }
}
