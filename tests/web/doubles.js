// Test doubles of navigator.serial and navigator.hid, installed in the page
// before its scripts run. They implement what the page uses of Web Serial
// and WebHID, as strictly as Chromium does (open twice, close with a locked
// stream, a report before open: all refused), and carry real bytes: every
// port call goes to the test through functions it exposed on window.
//   __zlSerialOpen(id, options)     the page opened port id
//   __zlSerialRead(id)              -> {data: base64} | {done: true} | {lost: why}
//   __zlSerialWrite(id, base64)     the page wrote these bytes
//   __zlSerialCancel(id)            the page cancelled its read
//   __zlSerialClose(id)             the page closed the port
//   __zlHidRequest(options)         the page asked for a HID device
// The test reaches back with window.__zlUnplug(id) and window.__zlHidReport(id, bytes).
export function installDoubles() {
  const toBase64 = (bytes) => {
    let text = '';
    for (let k = 0; k < bytes.length; k += 0x8000) text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    return btoa(text);
  };
  const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  const ports = [];

  class SerialPort extends EventTarget {
    #id;
    #readable = null;
    #writable = null;

    constructor(id) {
      super();
      this.#id = id;
    }

    get readable() { return this.#readable; }

    get writable() { return this.#writable; }

    getInfo() { return { usbVendorId: 0x1209, usbProductId: 0x5a4c }; }

    async open(options) {
      if (this.#readable) throw new DOMException('The port is already open.', 'InvalidStateError');
      if (!options || !Number.isInteger(options.baudRate) || options.baudRate <= 0) {
        throw new TypeError('Failed to execute \'open\' on \'SerialPort\': a positive baudRate is required.');
      }
      await window.__zlSerialOpen(this.#id, {
        baudRate: options.baudRate, dataBits: options.dataBits ?? 8,
        parity: options.parity ?? 'none', stopBits: options.stopBits ?? 1,
      });
      const id = this.#id;
      const port = this;
      this.#readable = new ReadableStream({
        async pull(controller) {
          const reply = await window.__zlSerialRead(id);
          if (reply.lost) {
            controller.error(new DOMException(reply.lost, 'NetworkError'));
          } else if (reply.done) {
            controller.close();
          } else {
            controller.enqueue(fromBase64(reply.data));
          }
        },
        cancel: () => window.__zlSerialCancel(id),
      }, { highWaterMark: 0 });
      this.#writable = new WritableStream({
        async write(chunk) {
          if (!(chunk instanceof Uint8Array) && !(chunk instanceof ArrayBuffer)) {
            throw new TypeError('Failed to write: the chunk is not an ArrayBuffer or a view of one.');
          }
          if (!port.#readable) throw new DOMException('The port is closed.', 'InvalidStateError');
          await window.__zlSerialWrite(id, toBase64(new Uint8Array(chunk)));
        },
      });
    }

    async close() {
      if (!this.#readable) throw new DOMException('The port is already closed.', 'InvalidStateError');
      if (this.#readable.locked || this.#writable.locked) {
        throw new TypeError('Failed to execute \'close\' on \'SerialPort\': Cannot cancel a locked stream');
      }
      this.#readable = null;
      this.#writable = null;
      await window.__zlSerialClose(this.#id);
    }
  }

  const serial = new EventTarget();
  serial.requestPort = async () => {
    const port = new SerialPort(ports.length);
    ports.push(port);
    return port;
  };
  serial.getPorts = async () => ports.slice();
  window.__zlUnplug = (id) => {
    ports[id].dispatchEvent(new Event('disconnect'));
  };

  class HIDDevice extends EventTarget {
    opened = false;
    vendorId = 0x1209;
    productId = 0x5a4d;
    productName = 'Test controller';
    collections = [{ usagePage: 0x01, usage: 0x05 }];

    async open() {
      if (this.opened) throw new DOMException('The device is already open.', 'InvalidStateError');
      this.opened = true;
    }

    async close() { this.opened = false; }
  }

  const devices = [];
  const hid = new EventTarget();
  hid.requestDevice = async (options) => {
    if (!options || !Array.isArray(options.filters)) {
      throw new TypeError('Failed to execute \'requestDevice\' on \'HID\': filters are required.');
    }
    await window.__zlHidRequest(options);
    const device = new HIDDevice();
    devices.push(device);
    return [device];
  };
  hid.getDevices = async () => devices.filter((device) => device.opened);
  window.__zlHidReport = (id, reportId, bytes) => {
    const device = devices[id];
    if (!device.opened) return false;
    const event = new Event('inputreport');
    Object.defineProperties(event, {
      device: { value: device },
      reportId: { value: reportId },
      data: { value: new DataView(Uint8Array.from(bytes).buffer) },
    });
    device.dispatchEvent(event);
    return true;
  };

  Object.defineProperty(Navigator.prototype, 'serial', { get: () => serial, configurable: true });
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => hid, configurable: true });
}

// For a browser without either API.
export function removeApis() {
  delete Navigator.prototype.serial;
  delete Navigator.prototype.hid;
}
