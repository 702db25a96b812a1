// Test doubles of navigator.serial and navigator.hid, installed in the page
// (and navigator.serial in every worker) before its scripts run. They
// implement what the page uses of Web Serial and WebHID, as strictly as
// Chromium does (open twice, close with a locked stream, a report before
// open: all refused), and carry real bytes: every port call goes to the test
// through functions on globalThis, which the test exposes in the page and
// relays over a CDP binding in a worker (installWorkerRelay):
//   __zlSerialRequest()                 -> the id of a port newly granted
//   __zlSerialGranted()                 -> the ids of every port granted
//   __zlSerialOpen(id, options, scope)  scope 'page' or 'worker' opened it
//   __zlSerialRead(id)                  -> {data: base64} | {done: true} | {lost: why}
//   __zlSerialWrite(id, base64)         these bytes were written
//   __zlSerialCancel(id)                the read was cancelled
//   __zlSerialClose(id)                 the port was closed
//   __zlHidRequest(options)             the page asked for a HID device
// The test reaches back with __zlUnplug(id) and __zlHidReport(id, bytes).
// Each function is evaluated on its own in its context, so each holds all
// it needs.
export function installDoubles() {
  const scope = typeof window === 'undefined' ? 'worker' : 'page';
  const NavigatorType = globalThis.Navigator ?? globalThis.WorkerNavigator;
  const call = (name, ...args) => globalThis[name](...args);
  const toBase64 = (bytes) => {
    let text = '';
    for (let k = 0; k < bytes.length; k += 0x8000) text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    return btoa(text);
  };
  const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

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
      await call('__zlSerialOpen', this.#id, {
        baudRate: options.baudRate, dataBits: options.dataBits ?? 8,
        parity: options.parity ?? 'none', stopBits: options.stopBits ?? 1,
      }, scope);
      const id = this.#id;
      const port = this;
      this.#readable = new ReadableStream({
        async pull(controller) {
          const reply = await call('__zlSerialRead', id);
          if (reply.lost) {
            controller.error(new DOMException(reply.lost, 'NetworkError'));
          } else if (reply.done) {
            controller.close();
          } else {
            controller.enqueue(fromBase64(reply.data));
          }
        },
        cancel: () => call('__zlSerialCancel', id),
      }, { highWaterMark: 0 });
      this.#writable = new WritableStream({
        async write(chunk) {
          if (!(chunk instanceof Uint8Array) && !(chunk instanceof ArrayBuffer)) {
            throw new TypeError('Failed to write: the chunk is not an ArrayBuffer or a view of one.');
          }
          if (!port.#readable) throw new DOMException('The port is closed.', 'InvalidStateError');
          await call('__zlSerialWrite', id, toBase64(new Uint8Array(chunk)));
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
      await call('__zlSerialClose', this.#id);
    }
  }

  // One object per granted port in this context, as Chromium keeps them.
  const ports = new Map();
  const portFor = (id) => {
    if (!ports.has(id)) ports.set(id, new SerialPort(id));
    return ports.get(id);
  };
  const serial = new EventTarget();
  serial.requestPort = async () => portFor(await call('__zlSerialRequest'));
  serial.getPorts = async () => (await call('__zlSerialGranted')).map(portFor);
  globalThis.__zlUnplug = (id) => ports.get(id)?.dispatchEvent(new Event('disconnect'));
  Object.defineProperty(NavigatorType.prototype, 'serial', { get: () => serial, configurable: true });
  if (scope === 'worker') return;

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
    await call('__zlHidRequest', options);
    const device = new HIDDevice();
    devices.push(device);
    return [device];
  };
  hid.getDevices = async () => devices.filter((device) => device.opened);
  globalThis.__zlHidReport = (id, reportId, bytes) => {
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
  Object.defineProperty(NavigatorType.prototype, 'hid', { get: () => hid, configurable: true });
}

// For a browser (or a worker) without the APIs.
export function removeApis() {
  const NavigatorType = globalThis.Navigator ?? globalThis.WorkerNavigator;
  delete NavigatorType.prototype.serial;
  delete NavigatorType.prototype.hid;
}

// In a worker: the port functions above, as calls over the CDP binding
// __zlCall (a JSON {id, name, args}), answered by the test evaluating
// __zlReply(id, {value} | {error}).
export function installWorkerRelay() {
  const binding = globalThis.__zlCall;
  const pending = new Map();
  let next = 0;
  globalThis.__zlReply = (id, reply) => {
    const { resolve, reject } = pending.get(id);
    pending.delete(id);
    if ('error' in reply) reject(new Error(reply.error));
    else resolve(reply.value);
  };
  for (const name of ['__zlSerialRequest', '__zlSerialGranted', '__zlSerialOpen', '__zlSerialRead',
    '__zlSerialWrite', '__zlSerialCancel', '__zlSerialClose']) {
    globalThis[name] = (...args) => new Promise((resolve, reject) => {
      const id = next++;
      pending.set(id, { resolve, reject });
      binding(JSON.stringify({ id, name, args }));
    });
  }
}

// In a worker: every deadline it hands the page (a 'due' message, when the
// page writes the frames) kept in __zlDues, for the test to check.
export function recordDeadlines() {
  globalThis.__zlDues = [];
  const post = globalThis.postMessage.bind(globalThis);
  globalThis.postMessage = (message, ...rest) => {
    if (message?.type === 'due') globalThis.__zlDues.push(message.due);
    return post(message, ...rest);
  };
}
