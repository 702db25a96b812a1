// The SBUS panel: sixteen sliders, sent as one 25-byte frame every 14 ms to
// a port opened at 100000 baud, 8 data bits, even parity, 2 stop bits. A
// worker keeps the deadlines (see sbus-clock.js); this side only reads the
// sliders, encodes and writes.
import { encodeSbus } from './zelkolink.js';
import { Cadence } from './clock.js';
import { $, onAnimationFrame, setText } from './dom.js';

export const SBUS_PORT = { baudRate: 100000, dataBits: 8, parity: 'even', stopBits: 2 };
const PERIOD = 14;
const CHANNEL_COUNT = 16;
const CENTRE = 992;
// Receivers commonly map 172..1811 to 988..2012 µs, so 992 is 1500 µs.
const LOW = [172, 988];
const HIGH = [1811, 2012];

export function microseconds(value) {
  return Math.round(LOW[1] + ((value - LOW[0]) * (HIGH[1] - LOW[1])) / (HIGH[0] - LOW[0]));
}

let sender = null;
const cadence = { current: new Cadence() };

const view = {
  status: $('#sbus-status'),
  start: $('#sbus-start'),
  stop: $('#sbus-stop'),
  sbus2: $('#sbus2'),
  interval: $('#sbus-interval'),
  lateness: $('#sbus-lateness'),
  sliders: [],
};

function buildSliders(container) {
  for (let k = 0; k < CHANNEL_COUNT; k++) {
    const row = document.createElement('label');
    row.className = 'slider';
    const name = document.createElement('span');
    name.textContent = `ch${k + 1}`;
    const slider = document.createElement('input');
    Object.assign(slider, { type: 'range', min: '0', max: '2047', step: '1', value: String(CENTRE) });
    slider.setAttribute('list', 'sbus-marks');
    slider.dataset.sbus = String(k);
    const shown = document.createElement('output');
    const show = () => { shown.textContent = `${slider.value} · ${microseconds(Number(slider.value))} µs`; };
    slider.addEventListener('input', show);
    show();
    row.append(name, slider, shown);
    container.append(row);
    view.sliders.push(slider);
  }
}

function setStatus(status) {
  view.status.textContent = status;
  view.start.disabled = sender !== null || !('serial' in navigator);
  view.stop.disabled = sender === null;
}

function send(due) {
  if (!sender || sender.failed) return;
  const channels = view.sliders.map((slider) => Number(slider.value));
  const frame = encodeSbus(channels, { sbus2: view.sbus2.checked });
  cadence.current.record(performance.timeOrigin + performance.now(), due);
  // Writes are not awaited one by one: a slow write must not shift the
  // deadlines. A failed one stops the sender.
  sender.writer.write(frame).catch((error) => {
    if (sender && !sender.failed) {
      sender.failed = true;
      stop(`lost: ${error.message}`);
    }
  });
}

async function start() {
  if (sender) return;
  let port;
  try {
    port = await navigator.serial.requestPort();
    await port.open(SBUS_PORT);
  } catch (error) {
    setStatus(`not started: ${error.message}`);
    return;
  }
  const clock = new Worker(new URL('./sbus-clock.js', import.meta.url), { type: 'module' });
  sender = { port, writer: port.writable.getWriter(), clock, failed: false };
  cadence.current = new Cadence();
  clock.onmessage = ({ data }) => send(data.due);
  clock.postMessage({ period: PERIOD });
  setStatus('sending');
}

async function stop(why = 'stopped') {
  if (!sender) return;
  const current = sender;
  sender = null;
  current.clock.terminate();
  try {
    await current.writer.close();
  } catch {
    // a failed write has already errored the stream; closing the port is what matters
  }
  current.writer.releaseLock();
  await current.port.close().catch(() => {});
  setStatus(why);
}

function render() {
  const { meanInterval, maxLateness, count } = cadence.current;
  setText(view.interval, meanInterval === null ? '–' : `${meanInterval.toFixed(2)} ms`);
  setText(view.lateness, count === 0 ? '–' : `${maxLateness.toFixed(1)} ms`);
}

buildSliders($('#sbus-sliders'));
view.start.addEventListener('click', () => start());
view.stop.addEventListener('click', () => stop());
setStatus('idle');
onAnimationFrame(render);
