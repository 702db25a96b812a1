// The HID panel: a game controller chosen with WebHID, each input report
// decoded by its length as zelkolink-bridge and zelkolink-dump do (their
// code, in bridge-core.wasm), handed to the SBUS panel with its read time,
// and the newest values rendered once per animation frame.
import { BridgeCore } from './bridge-core.js';
import { isStale, scaleFor, staleNote } from './panel-logic.js';
import { clock, publish } from './records.js';
import { $, buildCells, markStale, onAnimationFrame, setText, showValues } from './dom.js';

const VALUE_COUNT = 11; // a game controller's; a compatible device fills 9

// Generic desktop joysticks, gamepads and multi-axis controllers.
export const CONTROLLER_FILTERS = [
  { usagePage: 0x01, usage: 0x04 },
  { usagePage: 0x01, usage: 0x05 },
  { usagePage: 0x01, usage: 0x08 },
];

const latest = { layout: '', values: null, rejected: 0, dirty: false, scale: 255, fresh: null };
const reports = new BridgeCore();
let device = null;

const view = {
  status: $('#hid-status'),
  layout: $('#hid-layout'),
  rejected: $('#hid-rejected'),
  stale: $('#hid-stale-note'),
  connect: $('#connect-hid'),
  disconnect: $('#disconnect-hid'),
  values: buildCells($('#hid-values'), { prefix: 'v', count: VALUE_COUNT, attribute: 'hid' }),
};

function setStatus(status) {
  view.status.textContent = status;
  view.connect.disabled = device !== null || !('hid' in navigator);
  view.disconnect.disabled = device === null;
}

function onReport(event) {
  const time = clock();
  const data = new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength);
  const decoded = reports.decodeHid(data);
  if (decoded) {
    latest.layout = decoded.layout;
    latest.values = decoded.values;
    latest.fresh = time;
    const { hid, hidBits } = reports.values;
    publish({ source: 'hid', values: { hid, hidBits }, time });
  } else {
    latest.rejected++;
  }
  latest.dirty = true;
}

function onGone(event) {
  if (event.device !== device) return;
  device.removeEventListener('inputreport', onReport);
  device = null;
  setStatus('lost');
}

async function connect() {
  if (device) return;
  let chosen;
  try {
    [chosen] = await navigator.hid.requestDevice({ filters: CONTROLLER_FILTERS });
  } catch (error) {
    setStatus(`not connected: ${error.message}`);
    return;
  }
  if (!chosen) return;
  try {
    if (!chosen.opened) await chosen.open();
  } catch (error) {
    setStatus(`did not open: ${error.message}`);
    return;
  }
  device = chosen;
  device.addEventListener('inputreport', onReport);
  setStatus(`connected: ${device.productName || 'HID device'}`);
}

async function disconnect() {
  if (!device) return;
  const current = device;
  device = null;
  current.removeEventListener('inputreport', onReport);
  await current.close().catch(() => {});
  setStatus('disconnected');
}

function render() {
  const now = clock();
  markStale(view.values, isStale(latest.fresh, now));
  setText(view.stale, staleNote(latest.fresh, now));
  if (!latest.dirty) return;
  latest.dirty = false;
  setText(view.layout, latest.layout);
  setText(view.rejected, String(latest.rejected));
  if (latest.values) {
    latest.scale = Math.max(latest.scale, scaleFor(Math.max(...latest.values)));
    const values = [...latest.values];
    while (values.length < VALUE_COUNT) values.push('');
    showValues(view.values, values, latest.scale);
  }
}

view.connect.addEventListener('click', () => connect());
view.disconnect.addEventListener('click', () => disconnect());
if ('hid' in navigator) navigator.hid.addEventListener('disconnect', onGone);
setStatus('idle');
onAnimationFrame(render);
