// GNOME Shell 43 and 44: the entry point in the Shell's own module system; the service is the ES module every entry
// point shares. GNOME 45 and later load only ES-module extensions: theirs is a second, equally thin entry
// (`export default class extends Extension`, the service imported from './windows.js', constructed with `this.dir`
// and, on GLib 2.80 and later, GioUnix.OutputStream), under a uuid of its own whose metadata names those versions.
/* exported init */
const {Gio} = imports.gi;
const Me = imports.misc.extensionUtils.getCurrentExtension();

class Entry {
  enable() {
    this._enabled = true;
    import(Me.dir.get_child('windows.js').get_uri()).then(({WindowService}) => {
      if (!this._enabled)
        return;
      this._service = new WindowService(Me.dir, (fd) => new Gio.UnixOutputStream({fd, close_fd: true}));
      this._service.enable();
    }).catch(logError);
  }

  disable() {
    this._enabled = false;
    this._service?.disable();
    this._service = null;
  }
}

function init() {
  return new Entry();
}
