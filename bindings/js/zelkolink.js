// zelkolink: the ZelkoLink library compiled to WebAssembly, for Node.js and
// browsers alike. The module is compiled once, here at import; every
// PortParser gets an instance of its own, so its own reassembly buffer, and
// one more instance serves the stateless functions and the SBUS2 cycle.
// Every argument is checked before the library sees it, and every array
// handed back is a copy, never a view of the instance's memory.

const REQUEST_FRAME_SIZE = 7;
const STOP_FRAME_SIZE = 5;
const MAX_CHUNK = 255;
const INPUT_COUNT = 9;
const CHANNEL_COUNT = 32;
const GAME_CONTROLLER_COUNT = 11;
const GAME_CONTROLLER_REPORT_SIZE = 19;
const COMPATIBLE_REPORT_SIZE = 23;
const COMPATIBLE_REPORT_START = 0xfa;
const SBUS_CHANNEL_COUNT = 16;
const SBUS_FRAME_SIZE = 25;
const SBUS_FRAME_START = 0x0f;

// The instance's scratch areas, from __heap_base on: fixed records, then the
// area that feed copies received bytes into, a whole number of chunks long.
const RECORDS = 0; // inputs (18 bytes), then channels (64 bytes)
const INPUTS = RECORDS;
const CHANNELS = RECORDS + 32;
const OUTPUT = RECORDS + 96; // a frame, or 11 or 16 values written by the library
const VALUES = RECORDS + 160; // 16 values for the library to read
const REPORT = RECORDS + 192; // a HID report
const DATA = RECORDS + 256;
const DATA_SIZE = 128 * MAX_CHUNK;

async function compileModule() {
  const url = new URL('./zelkolink.wasm', import.meta.url);
  let bytes;
  try {
    if (url.protocol === 'file:') {
      // Node.js (and Deno, Bun): the file beside this one.
      const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ 'node:fs/promises');
      bytes = await readFile(url);
    } else {
      const response = await fetch(url);
      if (!response.ok) throw new Error(`HTTP ${response.status} ${response.statusText}`.trim());
      bytes = await response.arrayBuffer();
    }
    return await WebAssembly.compile(bytes);
  } catch (error) {
    throw new Error(`zelkolink: cannot load ${url.href}: ${error.message}`, { cause: error });
  }
}

const module = await compileModule();

// One instance of the module: its exports and its memory, which is a single
// fixed page, so the views taken here stay valid.
class Library {
  constructor() {
    const instance = new WebAssembly.Instance(module, {});
    this.exports = instance.exports;
    const buffer = instance.exports.memory.buffer;
    this.base = (instance.exports.__heap_base.value + 15) & ~15;
    if (this.base + DATA + DATA_SIZE > buffer.byteLength) {
      throw new Error('zelkolink: zelkolink.wasm leaves too little memory for its buffers');
    }
    this.heap = new Uint8Array(buffer);
    this.view = new DataView(buffer);
  }

  bytes(at, count) {
    return this.heap.slice(this.base + at, this.base + at + count);
  }

  values(at, count) {
    const values = new Array(count);
    for (let k = 0; k < count; k++) values[k] = this.view.getUint16(this.base + at + 2 * k, true);
    return values;
  }

  putValues(at, values) {
    for (let k = 0; k < values.length; k++) this.view.setUint16(this.base + at + 2 * k, values[k], true);
  }
}

const shared = new Library();

// ------------------------------------------------------------------ checks

function describe(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an array';
  if (typeof value === 'object') return value.constructor?.name ?? 'an object';
  return typeof value;
}

// A number list's element: an integer from 0 to max.
function checkElement(value, max, what, position) {
  if (typeof value !== 'number') {
    throw new TypeError(`${what}[${position}] must be a number, 0..${max}, got ${describe(value)}`);
  }
  if (!Number.isInteger(value) || value < 0 || value > max) {
    throw new RangeError(`${what}[${position}] must be an integer, 0..${max}, got ${value}`);
  }
}

// Bytes as a Uint8Array: a Uint8Array (a Node.js Buffer too) as it is, an
// ArrayBuffer viewed, an array of numbers checked and copied.
function toBytes(value, what) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (Array.isArray(value)) {
    for (let k = 0; k < value.length; k++) checkElement(value[k], 0xff, what, k);
    return Uint8Array.from(value);
  }
  throw new TypeError(`${what} must be a Uint8Array, an ArrayBuffer or an array of numbers, got ${describe(value)}`);
}

// Sixteen 16-bit values, from a Uint16Array or an array of numbers.
function toValues16(value, what) {
  if (!(value instanceof Uint16Array) && !Array.isArray(value)) {
    throw new TypeError(`${what} must be a Uint16Array or an array of numbers, got ${describe(value)}`);
  }
  if (value.length !== SBUS_CHANNEL_COUNT) {
    throw new RangeError(`${what} must be ${SBUS_CHANNEL_COUNT} values, got ${value.length}`);
  }
  if (Array.isArray(value)) {
    for (let k = 0; k < value.length; k++) checkElement(value[k], 0xffff, what, k);
  }
  return value;
}

function checkByte(value, what) {
  if (typeof value !== 'number') throw new TypeError(`${what} must be a number, 0..255, got ${describe(value)}`);
  if (!Number.isInteger(value) || value < 0 || value > 0xff) {
    throw new RangeError(`${what} must be a byte, 0..255, got ${value}`);
  }
  return value;
}

function toReport(value, size, what) {
  const report = toBytes(value, `a ${what} report`);
  if (report.length !== size) {
    throw new RangeError(`a ${what} report is ${size} bytes long, got ${report.length}`);
  }
  return report;
}

function hex(byte) {
  return `0x${byte.toString(16).toUpperCase().padStart(2, '0')}`;
}

// --------------------------------------------------------------- port link

/** The 7-byte frame that asks the device to start an upload. */
export function requestFrame(b0, b1) {
  checkByte(b0, 'b0');
  checkByte(b1, 'b1');
  shared.exports.request_upload_port_data(shared.base + OUTPUT, b0, b1);
  return shared.bytes(OUTPUT, REQUEST_FRAME_SIZE);
}

/** The 5-byte frame that ends an upload. */
export function stopFrame() {
  shared.exports.stop_upload_port_data(shared.base + OUTPUT);
  return shared.bytes(OUTPUT, STOP_FRAME_SIZE);
}

/** A stream parser with a reassembly buffer of its own. */
export class PortParser {
  #library = new Library();
  // What every feed needs, looked up once.
  #heap = this.#library.heap;
  #parse = this.#library.exports.parse_port_data;
  #data = this.#library.base + DATA;
  #inputs = this.#library.base + INPUTS;
  #channels = this.#library.base + CHANNELS;

  /**
   * Feeds bytes received from the port, any number, cut anywhere. Returns
   * true when at least one upload frame completed during the call.
   */
  feed(bytes) {
    const data = bytes instanceof Uint8Array ? bytes : toBytes(bytes, 'bytes');
    const length = data.length;
    if (length <= MAX_CHUNK) {
      // One read of a serial port is usually this: one copy, one call.
      if (length === 0) return false;
      this.#heap.set(data, this.#data);
      return this.#parse(this.#data, length, this.#inputs, this.#channels) !== 0;
    }
    let completed = 0;
    for (let start = 0; start < length; start += DATA_SIZE) {
      const end = Math.min(start + DATA_SIZE, length);
      this.#heap.set(start === 0 && end === length ? data : data.subarray(start, end), this.#data);
      for (let at = start; at < end; at += MAX_CHUNK) {
        completed |= this.#parse(this.#data + at - start, Math.min(MAX_CHUNK, end - at),
          this.#inputs, this.#channels);
      }
    }
    return completed !== 0;
  }

  /** The nine input values of the last upload records that carried them. */
  get inputs() {
    return this.#library.values(INPUTS, INPUT_COUNT);
  }

  /** The thirty-two channel values of the last upload records that carried them. */
  get channels() {
    return this.#library.values(CHANNELS, CHANNEL_COUNT);
  }
}

// ------------------------------------------------------------- HID reports

// Copies a checked report into the module and decodes it with `parse`; the
// checks above the call leave the library nothing to refuse.
function decodeReport(bytes, parse, count, what) {
  shared.heap.set(bytes, shared.base + REPORT);
  if (!parse(shared.base + OUTPUT, shared.base + REPORT, bytes.length)) {
    throw new Error(`zelkolink: the library refused a ${bytes.length}-byte ${what} report`);
  }
  return shared.values(OUTPUT, count);
}

/** The eleven values of a 19-byte game-controller report. */
export function decodeGameController(report) {
  const bytes = toReport(report, GAME_CONTROLLER_REPORT_SIZE, 'game-controller');
  return decodeReport(bytes, shared.exports.parse_hid_game_controller_device,
    GAME_CONTROLLER_COUNT, 'game-controller');
}

/** The nine values of a 23-byte compatible-device report, which starts 0xFA. */
export function decodeCompatible(report) {
  const bytes = toReport(report, COMPATIBLE_REPORT_SIZE, 'compatible-device');
  if (bytes[0] !== COMPATIBLE_REPORT_START) {
    throw new RangeError(`a compatible-device report starts with ${hex(COMPATIBLE_REPORT_START)}, got ${hex(bytes[0])}`);
  }
  return decodeReport(bytes, shared.exports.parse_hid_compatible_device, INPUT_COUNT,
    'compatible-device');
}

// -------------------------------------------------------------------- SBUS

/** Sixteen standard values (0..65535) scaled to SBUS units (0..2047). */
export function stdToSbus(values16) {
  shared.putValues(VALUES, toValues16(values16, 'values16'));
  shared.exports.convert_std_sbus_data(shared.base + OUTPUT, shared.base + VALUES);
  return shared.values(OUTPUT, SBUS_CHANNEL_COUNT);
}

/**
 * A 25-byte SBUS frame of sixteen channels (values above 2047 are sent as
 * 2047). With sbus2, the end byte takes the next step of the SBUS2 cycle.
 */
export function encodeSbus(channels16, options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError(`options must be an object, got ${describe(options)}`);
  }
  const { sbus2 = false } = options;
  if (typeof sbus2 !== 'boolean') throw new TypeError(`options.sbus2 must be a boolean, got ${describe(sbus2)}`);
  shared.putValues(VALUES, toValues16(channels16, 'channels16'));
  const encode = sbus2 ? shared.exports.encode_sbus_data_v2 : shared.exports.encode_sbus_data_v1;
  shared.heap[shared.base + OUTPUT] = SBUS_FRAME_START;
  encode(shared.base + OUTPUT, shared.base + VALUES);
  return shared.bytes(OUTPUT, SBUS_FRAME_SIZE);
}
