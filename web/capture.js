// The device panel's captures: what a connection read and wrote, kept for
// the last ten minutes, saved as pcapng; and a capture file opened to be
// played. The format is the tools' own code, in bridge-core.wasm.
import { readCapture, writeCapture } from './bridge-core.js';

export const CAPTURE_WINDOW = 10 * 60 * 1000; // ms kept of a connection
// A capture opened is read whole into the module's memory, which stops at
// 128 MiB; a file above this is refused before that.
export const LARGEST_CAPTURE = 96 * 1024 * 1024;
const APPLICATION = 'zelkolink live page';

// Every read and write of one connection, as it happened, for the last
// CAPTURE_WINDOW ms: {time (ms since 1970), outbound, bytes}.
export class Recording {
  #blocks = [];
  #first = 0; // blocks before this one have left the window

  constructor(name, description) {
    this.name = name;
    this.description = description;
  }

  add(time, outbound, bytes) {
    this.#blocks.push({ time, outbound, bytes });
    while (this.#blocks[this.#first].time < time - CAPTURE_WINDOW) this.#first++;
    // Dropped blocks are let go in batches, not one shift per read.
    if (this.#first > 1024 && this.#first * 2 > this.#blocks.length) {
      this.#blocks.splice(0, this.#first);
      this.#first = 0;
    }
  }

  get blocks() {
    return this.#blocks.slice(this.#first);
  }

  get size() {
    return this.#blocks.length - this.#first;
  }
}

// zelkolink-2026-12-10-031502.pcapng for a capture saved at that local time.
export function captureFileName(date) {
  const two = (value) => String(value).padStart(2, '0');
  return `zelkolink-${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())}-`
    + `${two(date.getHours())}${two(date.getMinutes())}${two(date.getSeconds())}.pcapng`;
}

// What the page knows of a Web Serial port: its USB IDs, when it has them.
export function portName(port) {
  const { usbVendorId, usbProductId } = port.getInfo?.() ?? {};
  const hex = (id) => id.toString(16).padStart(4, '0');
  return usbVendorId === undefined || usbProductId === undefined ? 'Web Serial port'
    : `Web Serial USB ${hex(usbVendorId)}:${hex(usbProductId)}`;
}

// Hands the browser the recording as a pcapng file to download.
export function saveCapture(recording, now = new Date()) {
  const parts = writeCapture({
    application: APPLICATION, name: recording.name, description: recording.description, packets: recording.blocks,
  });
  const url = URL.createObjectURL(new Blob(parts, { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = captureFileName(now);
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
  return link.download;
}

// A capture file's packets to play, or the one line that says why it
// cannot be played: {packets, notes} or {problem}, each line naming the file.
export function openCapture(name, bytes) {
  const { packets, fault, notes } = readCapture(bytes);
  if (fault) return { problem: `${name}: ${fault}` };
  if (!packets.some((packet) => !packet.outbound)) {
    return { problem: `${name}: no reads from the device to play` };
  }
  return { packets, notes: notes.map((note) => `${name}: ${note}`) };
}
