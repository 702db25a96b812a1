// The page's side of zelkolink-bridge: its decisions, compiled from the
// tool's own C++ into bridge-core.wasm (web/bridge-core/exports.cpp), so the
// page and the bridge decide alike: which HID layout a report has, what an
// upload frame carried, whether that is fresh for the map, the link's state
// and flags, the channels of every frame, and the map file's checks with
// their one-line messages. Each BridgeCore is an instance of its own: its own
// port parser (one per connection), map and held channels. Captures are
// written and read by the tools' own pcapng code in the same module
// (writeCapture, readCapture), each in an instance of its own.

const STATES = ['waiting', 'ok', 'lost', 'failsafe'];
const LAYOUTS = ['', 'game-controller', 'compatible'];
const SOURCES = { port: 0, 'port-raw': 1, hid: 2 };
const CARRIED = { frame: 1, inputs: 2, channels: 4, hid: 8 };
const INPUT_COUNT = 9;
const CHANNEL_COUNT = 32;
const HID_COUNT = 11;
const SBUS_CHANNEL_COUNT = 16;
// The exchange area's layout (exports.cpp checks it at compile time).
const INPUTS = 0;
const CHANNELS = 18;
const HID = 82;
const HID_BITS = 104;
const OUT = 116;

async function compileModule() {
  const url = new URL('./bridge-core.wasm', import.meta.url);
  let bytes;
  try {
    if (url.protocol === 'file:') {
      const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ 'node:fs/promises');
      bytes = await readFile(url);
    } else {
      const response = await fetch(url);
      if (!response.ok) throw new Error(`HTTP ${response.status} ${response.statusText}`.trim());
      bytes = await response.arrayBuffer();
    }
    return await WebAssembly.compile(bytes);
  } catch (error) {
    throw new Error(`bridge-core: cannot load ${url.href}: ${error.message}`, { cause: error });
  }
}

const module = await compileModule();
const encoder = new TextEncoder();
const decoder = new TextDecoder();

// An instance with its globals initialised: a library module has no start
// function, so its C++ initialisers run here, once.
function instantiate() {
  const { exports } = new WebAssembly.Instance(module, {});
  exports.__wasm_call_ctors();
  return exports;
}

export class BridgeCore {
  #core = instantiate();
  #exchange = this.#core.zb_exchange();
  #source = 'port';

  constructor(source = 'port') {
    this.useMap(source);
  }

  // The memory may grow with a call, so views are taken afresh each time.
  #view() {
    return new DataView(this.#core.memory.buffer);
  }

  #put(...parts) {
    const at = this.#core.zb_buffer(parts.reduce((sum, part) => sum + part.length, 0));
    const heap = new Uint8Array(this.#core.memory.buffer);
    let offset = at;
    for (const part of parts) {
      heap.set(part, offset);
      offset += part.length;
    }
  }

  #read(at, count) {
    const view = this.#view();
    return Array.from({ length: count }, (_, k) => view.getUint16(this.#exchange + at + 2 * k, true));
  }

  #write(at, values) {
    const view = this.#view();
    values.forEach((value, k) => view.setUint16(this.#exchange + at + 2 * k, value, true));
  }

  /** The values the instance holds: the newest record's parts. */
  get values() {
    const heap = new Uint8Array(this.#core.memory.buffer);
    const bits = this.#exchange + HID_BITS;
    return {
      inputs: this.#read(INPUTS, INPUT_COUNT),
      channels: this.#read(CHANNELS, CHANNEL_COUNT),
      hid: this.#read(HID, HID_COUNT),
      hidBits: Array.from(heap.subarray(bits, bits + HID_COUNT)),
    };
  }

  /** Sets the parts given ({inputs, channels, hid, hidBits}); the others stay. */
  set values({ inputs, channels, hid, hidBits }) {
    if (inputs) this.#write(INPUTS, inputs);
    if (channels) this.#write(CHANNELS, channels);
    if (hid) this.#write(HID, hid);
    if (hidBits) new Uint8Array(this.#core.memory.buffer).set(hidBits, this.#exchange + HID_BITS);
  }

  /** A new connection: what the last one left pending is dropped. */
  resetPort() {
    this.#core.zb_port_reset();
  }

  /** Feeds port bytes; what the upload frames they completed carried. */
  feedPort(bytes) {
    this.#put(bytes);
    const carried = this.#core.zb_port_feed(bytes.length);
    return { frame: !!(carried & CARRIED.frame), inputs: !!(carried & CARRIED.inputs),
      channels: !!(carried & CARRIED.channels) };
  }

  /** A HID report decoded by its length: {layout, values, bits}, or null. */
  decodeHid(bytes) {
    this.#put(bytes);
    const layout = LAYOUTS[this.#core.zb_hid_decode(bytes.length)];
    if (!layout) return null;
    const { hid, hidBits } = this.values;
    const count = layout === 'compatible' ? INPUT_COUNT : HID_COUNT;
    return { layout, values: hid.slice(0, count), bits: hidBits.slice(0, count) };
  }

  /**
   * The map of source ('port', 'port-raw' or 'hid'): its default, with a map
   * file's text read over it unless text is null. Returns '' or the one-line
   * message zelkolink-bridge gives; on an error the map stays as it was.
   */
  useMap(source, text = null, name = 'map.json') {
    if (!(source in SOURCES)) throw new RangeError(`source must be port, port-raw or hid, got ${source}`);
    const nameBytes = encoder.encode(name);
    const textBytes = encoder.encode(text ?? '');
    this.#put(nameBytes, textBytes);
    const length = this.#core.zb_map_read(SOURCES[source], text === null ? 0 : 1, nameBytes.length, textBytes.length);
    if (length === 0) {
      this.#source = source;
      return '';
    }
    const at = this.#core.zb_message();
    return decoder.decode(new Uint8Array(this.#core.memory.buffer, at, length));
  }

  get source() {
    return this.#source;
  }

  /** Whether a record that carried these parts is fresh for the map. */
  isFresh(carried) {
    return this.#core.zb_is_fresh((carried.frame ? CARRIED.frame : 0) | (carried.inputs ? CARRIED.inputs : 0)
      | (carried.channels ? CARRIED.channels : 0)) === 1;
  }

  /** The state at now for the last fresh record at lastFresh (null: none yet), in ms. */
  linkState(lastFresh, now, { lost, failsafe }) {
    return STATES[this.#core.zb_link_state(lastFresh ?? NaN, now, lost, failsafe)];
  }

  /** Byte 23 of a frame sent in this state. */
  flags(state) {
    return this.#core.zb_sbus_flags(STATES.indexOf(state));
  }

  /** The sixteen channels of the frame sent in this state from the values held. */
  frameChannels(state) {
    this.#core.zb_frame_channels(STATES.indexOf(state));
    return this.#read(OUT, SBUS_CHANNEL_COUNT);
  }
}

// ------------------------------------------------------------ captures

// Copies text and bytes into a fresh instance's buffer, as BridgeCore does.
function putInto(core, ...parts) {
  const at = core.zb_buffer(parts.reduce((sum, part) => sum + part.length, 0));
  let offset = at;
  for (const part of parts) {
    new Uint8Array(core.memory.buffer).set(part, offset);
    offset += part.length;
  }
}

function messageOf(core, length) {
  return decoder.decode(new Uint8Array(core.memory.buffer, core.zb_message(), length));
}

/**
 * A pcapng capture of one port as the parts of a Blob: the section header
 * naming application, the port's interface (name, description such as
 * "115200 8N1"), then a packet block per {time (ms since 1970), outbound,
 * bytes}, in order.
 */
export function writeCapture({ application, name, description, packets }) {
  const core = instantiate();
  const copy = (length) => new Uint8Array(core.memory.buffer, core.zb_capture_block(), length).slice();
  const appBytes = encoder.encode(application);
  putInto(core, appBytes);
  const parts = [copy(core.zb_capture_section(appBytes.length))];
  const nameBytes = encoder.encode(name);
  const descriptionBytes = encoder.encode(description);
  putInto(core, nameBytes, descriptionBytes);
  parts.push(copy(core.zb_capture_interface(nameBytes.length, descriptionBytes.length)));
  for (const { time, outbound, bytes } of packets) {
    putInto(core, bytes);
    parts.push(copy(core.zb_capture_packet(Math.round(time * 1000), outbound ? 1 : 0, bytes.length)));
  }
  return parts;
}

/**
 * A capture's packets, read from the start: {packets: [{time (ms since
 * 1970), outbound, data}], fault, notes}. fault is why reading stopped
 * early ('' when it reached the end); notes are the lines a capture read to
 * its end still has to say (a last block cut short).
 */
export function readCapture(bytes) {
  const core = instantiate();
  putInto(core, bytes);
  core.zb_capture_open(bytes.length);
  const packets = [];
  for (let at = core.zb_capture_next(); at !== 0; at = core.zb_capture_next()) {
    const view = new DataView(core.memory.buffer);
    const data = view.getUint32(at + 8, true);
    packets.push({
      time: view.getFloat64(at, true),
      outbound: view.getUint32(at + 16, true) === 1,
      data: new Uint8Array(core.memory.buffer, data, view.getUint32(at + 12, true)).slice(),
    });
  }
  const fault = messageOf(core, core.zb_capture_fault());
  const notes = messageOf(core, core.zb_capture_notes());
  return { packets, fault, notes: notes ? notes.split('\n') : [] };
}
