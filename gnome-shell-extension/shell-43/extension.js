// GNOME Shell 43 and 44: the entry point in the Shell's own module system (a script, which cannot hold the `export`
// that GNOME 45 and later require of an entry point, so shell-45/ is the other). The service is the ES module both
// entries share.
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
