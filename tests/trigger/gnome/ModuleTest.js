// The GNOME 45+ extension loaded as the Shell loads it, an ES module, under gjs with the Shell's own
// modules (Extension, Main) stood in for by a resource bundle at their real addresses; Gio and GLib
// are real. It must export its object on enable and take it away on disable, answer the executable it
// was installed beside (<prefix>/bin/tovak), and refuse any other program, any name that is no file's, and
// an eleventh different name from one caller in 10 minutes.
//
// gjs -m ModuleTest.js EXTENSION_FOLDER, on a session bus (dbus-run-session). Exit 0 passed, 1 failed,
// 77 skipped.

import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import System from 'system';

const PATH = '/org/tovak/Tovak/WindowControl';
const IFACE = 'org.tovak.Tovak.WindowControl';

const STUBS = {
    'extensions/extension.js': `
        export class Extension {
            constructor(metadata) { this.metadata = metadata; }
            get uuid() { return this.metadata.uuid; }
            get dir() { return this.metadata.dir; }
            get path() { return this.metadata.path; }
        }`,
    'ui/main.js': `
        export const activated = [];
        export function activateWindow(window) { activated.push(window.get_title()); }`,
};

const failures = [];
function check(condition, what) {
    print(`${condition ? 'ok' : 'FAILED'}: ${what}`);
    if (!condition)
        failures.push(what);
}

// Runs a program without blocking the main loop (the extension answers from it), its output merged.
function run(argv) {
    const process = Gio.Subprocess.new(argv, Gio.SubprocessFlags.STDOUT_PIPE | Gio.SubprocessFlags.STDERR_MERGE);
    return new Promise(resolve => {
        process.communicate_utf8_async(null, null, (p, result) => {
            const [, output] = p.communicate_utf8_finish(result);
            resolve({ok: p.get_successful(), output});
        });
    });
}

// The stand-in modules, compiled into a resource bundle under /org/gnome/shell.
async function registerStubs(folder) {
    let manifest = '<gresources><gresource prefix="/org/gnome/shell">';
    for (const [name, text] of Object.entries(STUBS)) {
        GLib.mkdir_with_parents(`${folder}/stubs/${name.split('/')[0]}`, 0o755);
        GLib.file_set_contents(`${folder}/stubs/${name}`, text);
        manifest += `<file>${name}</file>`;
    }
    GLib.file_set_contents(`${folder}/stubs.xml`, `${manifest}</gresource></gresources>`);
    const compiled = await run(['glib-compile-resources', `--sourcedir=${folder}/stubs`,
        `--target=${folder}/stubs.gresource`, `${folder}/stubs.xml`]);
    if (!compiled.ok)
        throw new Error(`glib-compile-resources: ${compiled.output}`);
    Gio.resources_register(Gio.Resource.load(`${folder}/stubs.gresource`));
}

// Calls a method of the extension's object from a connection of this process's own.
function callFrom(connection, method, args) {
    return new Promise(resolve => {
        connection.call(Gio.DBus.session.get_unique_name(), PATH, IFACE, method, args, null,
            Gio.DBusCallFlags.NONE, 5000, null, (c, result) => {
                try {
                    resolve({value: c.call_finish(result).deepUnpack()});
                } catch (e) {
                    resolve({error: Gio.DBusError.get_remote_error(e) ?? `${e}`});
                }
            });
    });
}

async function main(source) {
    const prefix = GLib.dir_make_tmp('tovak-module-XXXXXX');
    await registerStubs(prefix);
    // Installed as a package would install it, with this gjs standing for Tovak at <prefix>/bin/tovak.
    const uuid = 'tovak-window-control@tovak.org';
    const folder = `${prefix}/share/gnome-shell/extensions/${uuid}`;
    GLib.mkdir_with_parents(folder, 0o755);
    GLib.mkdir_with_parents(`${prefix}/bin`, 0o755);
    for (const name of ['extension.js', 'metadata.json'])
        Gio.File.new_for_path(`${source}/${name}`).copy(Gio.File.new_for_path(`${folder}/${name}`), 0, null, null);
    Gio.File.new_for_path(`${prefix}/bin/tovak`).make_symbolic_link(GLib.file_read_link('/proc/self/exe'), null);

    const [, metadataText] = GLib.file_get_contents(`${folder}/metadata.json`);
    const metadata = JSON.parse(new TextDecoder().decode(metadataText));
    check(metadata.uuid === uuid && metadata['shell-version'].includes('45'), 'metadata names the uuid and 45');

    globalThis.global = {
        display: {list_all_windows: () => [{get_title: () => 'Отчёт.csv — Просмотр'}, {get_title: () => 'Другое'}]},
    };
    const module = await import(`file://${folder}/extension.js`);
    const extension = new module.default({...metadata, dir: Gio.File.new_for_path(folder), path: folder});

    const own = Gio.DBusConnection.new_for_address_sync(Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, null),
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, null, null);
    const count = new GLib.Variant('(s)', ['Отчёт.csv']);
    check((await callFrom(own, 'CountWindows', count)).error !== undefined, 'nothing is exported before enable');

    extension.enable();
    let now = 0;
    extension._control._now = () => now;
    const answer = await callFrom(own, 'CountWindows', count);
    check(answer.value?.[0] === 1, `the installed Tovak is answered (${JSON.stringify(answer)})`);
    const other = await run(['gdbus', 'call', '--session', '--dest', Gio.DBus.session.get_unique_name(),
        '--object-path', PATH, '--method', `${IFACE}.CountWindows`, 'Отчёт.csv']);
    check(!other.ok && other.output.includes('org.freedesktop.DBus.Error.AccessDenied'),
        `another program is refused (${other.output.trim()})`);

    const ask = name => callFrom(own, 'CountWindows', new GLib.Variant('(s)', [name]));
    for (const [name, ok] of [['', false], ['Отчёт', false], ['.csv', false], ['Отчёт.', false], ['а/б.csv', false],
        ['Отчёт.c v', false], [`${'я'.repeat(126)}.csv`, false], [`${'я'.repeat(125)}.csv`, true]]) {
        const r = await ask(name);
        check(ok ? r.value !== undefined : r.error === 'org.freedesktop.DBus.Error.InvalidArgs',
            `"${name.slice(0, 9)}" (${name.length}) is ${ok ? '' : 'no '}file name: ${JSON.stringify(r).slice(0, 70)}`);
    }
    for (let i = 2; i < 10; i++)
        check((await ask(`${i}.csv`)).value !== undefined, `different name ${i + 1} of 10`);
    check((await ask('10.csv')).error === 'org.freedesktop.DBus.Error.LimitsExceeded', 'the eleventh is refused');
    check((await ask('Отчёт.csv')).value !== undefined, 'a name asked about before still answers');
    const another = await run([GLib.file_read_link('/proc/self/exe'), '-c', `print(imports.gi.Gio.DBus.session.call_sync(
        '${Gio.DBus.session.get_unique_name()}', '${PATH}', '${IFACE}', 'CountWindows',
        new imports.gi.GLib.Variant('(s)', ['10.csv']), null, 0, 5000, null).deepUnpack())`]);
    check(another.output.trim() === '0', `another caller has names of its own (${another.output.trim()})`);
    now += 10 * 60 * 1000 * 1000;
    check((await ask('10.csv')).value !== undefined, 'ten minutes on, a new name answers');

    extension.disable();
    check((await callFrom(own, 'CountWindows', count)).error !== undefined, 'nothing is exported after disable');
    await run(['rm', '-rf', prefix]);
}

const source = ARGV[0];
if (GLib.find_program_in_path('glib-compile-resources') === null || GLib.find_program_in_path('gdbus') === null) {
    print('SKIPPED: glib-compile-resources or gdbus is not installed (apt install libglib2.0-dev-bin)');
    System.exit(77);
}
const loop = new GLib.MainLoop(null, false);
main(source).catch(e => failures.push(`${e}\n${e.stack}`)).finally(() => loop.quit());
loop.run();
print(failures.length === 0 ? 'passed' : `FAILED:\n${failures.join('\n')}`);
System.exit(failures.length === 0 ? 0 : 1);
