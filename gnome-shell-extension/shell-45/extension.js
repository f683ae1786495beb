// GNOME Shell 45 and later: the entry point as the ES module these Shells require. The service is the ES module
// both entries share.
import Gio from 'gi://Gio';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {WindowService} from './windows.js';

// GLib 2.80 (GNOME 46) moved the Unix streams from Gio into GioUnix; GNOME 45's GLib has no GioUnix.
const UnixOutputStream = import('gi://GioUnix').then(({default: GioUnix}) => GioUnix.OutputStream,
  () => Gio.UnixOutputStream);

export default class extends Extension {
  enable() {
    this._service = new WindowService(this.dir,
      async (fd) => new (await UnixOutputStream)({fd, close_fd: true}));
    this._service.enable();
  }

  disable() {
    this._service?.disable();
    this._service = null;
  }
}
