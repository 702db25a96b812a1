// Which layout a HID input report has, by its length (WebHID hands over the
// data without the report ID byte), and its values; null for any other
// report. The layout names are zelkolink-dump's.
import { decodeCompatible, decodeGameController } from './zelkolink.js';

const GAME_CONTROLLER_SIZE = 19;
const COMPATIBLE_SIZE = 23;
const COMPATIBLE_START = 0xfa;

export function decodeReport(bytes) {
  if (bytes.length === GAME_CONTROLLER_SIZE) {
    return { layout: 'game-controller', values: decodeGameController(bytes) };
  }
  if (bytes.length === COMPATIBLE_SIZE && bytes[0] === COMPATIBLE_START) {
    return { layout: 'compatible', values: decodeCompatible(bytes) };
  }
  return null;
}
