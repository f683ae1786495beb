// The window service the screen helpers ask over the session bus: a read-only list of the Shell's windows, front to
// back, and the pixels of one of them written into a file descriptor that the caller passes. It answers only callers
// of this user whose executable is one of the installed helpers (`callers`, one absolute path a line, written at
// install time), and every failure with an error name of its own. It moves, focuses and changes nothing.
//
// An ES module that both entry points (shell-43/, shell-45/) share: the entry hands it the extension's directory and
// the one thing that differs between Shell versions, how a file descriptor becomes an output stream (the stream, or
// a promise of it).
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';

const kPath = '/org/halvic/Windows';
const kError = 'org.halvic.Windows1.Error.';
const kInterface = `<node><interface name="org.halvic.Windows1">
  <method name="GetVersion"><arg type="u" direction="out"/></method>
  <method name="GetWindows"><arg type="s" name="json" direction="out"/></method>
  <method name="CaptureWindow">
    <arg type="t" name="id" direction="in"/>
    <arg type="(iiii)" name="area" direction="in"/>
    <arg type="h" name="png" direction="in"/>
  </method>
</interface></node>`;

class Refusal extends Error {
  constructor(name, message) {
    super(message);
    this.name = kError + name;
  }
}

const call = (work) => new Promise((resolve, reject) => work((source, result, finish) => {
  try {
    resolve(finish(result));
  } catch (e) {
    reject(e);
  }
}));

const rect = (r) => [r.x, r.y, r.width, r.height];

export class WindowService {
  constructor(directory, outputStreamForFd) {
    this._directory = directory;
    this._outputStreamForFd = outputStreamForFd;
  }

  enable() {
    const [, bytes] = this._directory.get_child('callers').load_contents(null);
    this._callers = new TextDecoder().decode(bytes).split('\n').filter((line) => line.startsWith('/'));
    this._uid = new Gio.Credentials().get_unix_user();
    this._object = Gio.DBusExportedObject.wrapJSObject(kInterface, this);
    this._object.export(Gio.DBus.session, kPath);
  }

  disable() {
    this._object?.unexport();
    this._object = null;
  }

  GetVersionAsync(params, invocation) {
    this._answer(invocation, () => new GLib.Variant('(u)', [1]));
  }

  GetWindowsAsync(params, invocation) {
    this._answer(invocation, () => new GLib.Variant('(s)', [JSON.stringify(this._windows())]));
  }

  CaptureWindowAsync([id, area, fd], invocation) {
    // The descriptor is taken (duplicated into the Shell) only once the capture will write it, so no refusal
    // leaves one open here.
    const takeFd = () => invocation.get_message().get_unix_fd_list()?.get(fd);
    this._answer(invocation, () => this._capture(id, area, takeFd));
  }

  // Runs `work` for an accepted caller and returns its value, or the error name of the refusal or failure.
  async _answer(invocation, work) {
    try {
      await this._checkCaller(invocation.get_sender());
      invocation.return_value(await work());
    } catch (e) {
      const name = e instanceof Refusal ? e.name : `${kError}Failed`;
      invocation.return_dbus_error(name, String(e.message ?? e));
    }
  }

  async _checkCaller(sender) {
    const reply = await call((done) => Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
      'org.freedesktop.DBus', 'GetConnectionCredentials', new GLib.Variant('(s)', [sender]), null,
      Gio.DBusCallFlags.NONE, 1000, null, (c, r) => done(c, r, (x) => c.call_finish(x))));
    const [{ProcessID: pid, UnixUserID: uid}] = reply.recursiveUnpack();
    let executable = '';
    try {
      executable = GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {}
    if (uid !== this._uid || !this._callers.includes(executable)) {
      throw new Refusal('NotOurCaller',
        `the caller (${executable || `pid ${pid}`}) is not an installed helper of this user`);
    }
  }

  _windows() {
    const workspace = global.workspace_manager.get_active_workspace();
    const windows = global.display.sort_windows_by_stacking(global.get_window_actors().map((a) => a.meta_window));
    return windows.reverse().map((w) => {
      const frame = w.get_frame_rect();
      return {
        id: w.get_id(), pid: w.get_pid(), wm_class: w.get_wm_class(), app_id: w.get_gtk_application_id(),
        title: w.get_title(), frame: rect(frame), client: rect(w.frame_rect_to_client_rect(frame)),
        buffer: rect(w.get_buffer_rect()), x11: w.get_client_type() === Meta.WindowClientType.X11,
        type: w.get_window_type(), override_redirect: w.is_override_redirect(), minimized: w.minimized,
        hidden: w.is_hidden(), on_workspace: w.located_on_workspace(workspace), focused: w.has_focus(),
        opacity: w.get_compositor_private()?.opacity ?? 255,
      };
    });
  }

  // Writes the PNG of `area` (logical units from the window's frame origin) of window `id` at the window's scale
  // into the caller's file descriptor, which `takeFd` returns.
  async _capture(id, [x, y, width, height], takeFd) {
    const actor = global.get_window_actors().find((a) => a.meta_window.get_id() === id);
    if (!actor)
      throw new Refusal('NoSuchWindow', `no window ${id}`);
    const frame = actor.meta_window.get_frame_rect(), buffer = actor.meta_window.get_buffer_rect();
    const texture = actor.paint_to_content(null)?.get_texture();
    if (!texture || buffer.width <= 0)
      throw new Refusal('NothingDrawn', `window ${id} has nothing drawn`);
    const scale = texture.get_width() / buffer.width;
    const crop = [frame.x + x - buffer.x, frame.y + y - buffer.y, width, height].map((v) => Math.round(v * scale));
    if (crop[0] < 0 || crop[1] < 0 || crop[2] <= 0 || crop[3] <= 0 ||
        crop[0] + crop[2] > texture.get_width() || crop[1] + crop[3] > texture.get_height())
      throw new Refusal('AreaOutsideWindow', `the area lies outside window ${id}`);
    const fd = takeFd();
    if (fd === undefined)
      throw new Refusal('NoFileDescriptor', 'no file descriptor came with the call');
    const stream = await this._outputStreamForFd(fd);
    try {
      await call((done) => Shell.Screenshot.composite_to_stream(texture, ...crop, scale, null, 0, 0, 1, stream,
        (o, r) => done(o, r, (x) => Shell.Screenshot.composite_to_stream_finish(x))));
    } finally {
      stream.close(null);
    }
    return null;
  }
}
