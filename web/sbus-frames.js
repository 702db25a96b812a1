// What every SBUS frame carries, wherever it is written (the SBUS worker, or
// the main thread where a worker has no Web Serial): the sliders, or the
// newest record of the device or HID panel decided as zelkolink-bridge
// decides it, through its own code in bridge-core.wasm: freshness, the
// link's state and byte 23, the mapped, held or failsafe channels.
import { BridgeCore } from './bridge-core.js';
import { encodeSbus } from './zelkolink.js';

export const SBUS_PORT = { baudRate: 100000, dataBits: 8, parity: 'even', stopBits: 2 };
export const SBUS_FLAGS_BYTE = 23;
export const DEFAULT_LIMITS = { lost: 100, failsafe: 1000 };
const CHANNEL_COUNT = 16;
const CENTRE = 992;
// The bridge's default map for each source (the sliders take no map; a map
// file chosen for them is checked as the device's).
export const MAP_SOURCE = { sliders: 'port', device: 'port', hid: 'hid' };

export class FrameSource {
  #core = new BridgeCore();
  #source = 'sliders';
  #sliders = new Array(CHANNEL_COUNT).fill(CENTRE);
  #limits = DEFAULT_LIMITS;
  #lastFresh = null; // read time of the newest fresh record, ms
  #lastCarried = null; // read time of the values the last frame carried

  get source() {
    return this.#source;
  }

  /**
   * The source ('sliders', 'device' or 'hid'), with a map file's text (and
   * name) read over that source's default map. Returns '' or the map's
   * one-line message, in which case nothing changes. A new source or map
   * starts from waiting, as the bridge does at its start.
   */
  configure({ source = this.#source, map = null, limits = this.#limits } = {}) {
    if (source !== 'sliders') {
      const problem = this.#core.useMap(MAP_SOURCE[source], map?.text ?? null, map?.name);
      if (problem) return problem;
    }
    this.#source = source;
    this.#limits = limits;
    this.#lastFresh = null;
    this.#lastCarried = null;
    return '';
  }

  setLimits(limits) {
    this.#limits = limits;
  }

  setSliders(values) {
    this.#sliders = values.slice(0, CHANNEL_COUNT);
  }

  /**
   * A record from a panel: {source, values, carried, time}. The parts it
   * carried become the newest values; only a fresh record moves the link's
   * clock (a HID report always is, as in the bridge).
   */
  offer({ source, values, carried = null, time }) {
    if (source !== this.#source) return;
    if (source === 'hid') {
      this.#core.values = { hid: values.hid, hidBits: values.hidBits };
      this.#lastFresh = time;
      return;
    }
    this.#core.values = { inputs: carried.inputs ? values.inputs : null, channels: carried.channels ? values.channels : null };
    if (carried.frame && this.#core.isFresh(carried)) this.#lastFresh = time;
  }

  /**
   * The frame to send at now: {bytes, state, flags, age}. age is how long
   * ago the values were read, for the first frame that carries them (as
   * zelkolink-bridge --trace reports it), otherwise null.
   */
  frame(now, sbus2) {
    let channels = this.#sliders;
    let state = 'ok';
    let flags = 0;
    let age = null;
    if (this.#source !== 'sliders') {
      state = this.#core.linkState(this.#lastFresh, now, this.#limits);
      channels = this.#core.frameChannels(state);
      flags = this.#core.flags(state);
      if (state === 'ok' && this.#lastFresh !== this.#lastCarried) {
        age = now - this.#lastFresh;
        this.#lastCarried = this.#lastFresh;
      }
    }
    const bytes = encodeSbus(channels, { sbus2 });
    bytes[SBUS_FLAGS_BYTE] = flags;
    return { bytes, state, flags, age };
  }
}

// Mean and largest of the ages reported by frame().
export class AgeFigures {
  count = 0;
  sum = 0;
  largest = 0;

  add(age) {
    if (age === null) return;
    this.count++;
    this.sum += age;
    this.largest = Math.max(this.largest, age);
  }

  get figures() {
    return { count: this.count, mean: this.count ? this.sum / this.count : null, largest: this.count ? this.largest : null };
  }
}
