// The device panel's captures: a connection's recording (panel-logic.js)
// saved as pcapng, and a capture file opened to be played. The format is
// the tools' own code, in bridge-core.wasm.
import { readCapture, writeCapture } from './bridge-core.js';
import { captureFileName } from './panel-logic.js';

// A capture opened is read whole into the module's memory, which stops at
// 128 MiB; a file above this is refused before that.
export const LARGEST_CAPTURE = 96 * 1024 * 1024;
const APPLICATION = 'zelkolink live page';

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
