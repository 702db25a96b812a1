// The SBUS panel: one 25-byte frame every 14 ms to a port at 100000 baud 8E2,
// from the sixteen sliders, or from the device or HID panel's newest record
// mapped as zelkolink-bridge maps it (a map file, the frame-lost and
// failsafe limits, byte 23). A worker finds the chosen port and writes every
// frame on its own deadlines (sbus-writer.js); where it cannot, it only
// keeps the deadlines and this side writes, which the panel says.
import { BridgeCore } from './bridge-core.js';
import { clock, records } from './records.js';
import { AgeFigures, DEFAULT_LIMITS, FrameSource, MAP_SOURCE, SBUS_PORT } from './sbus-frames.js';
import { Cadence } from './sbus-cadence.js';
import { $, onAnimationFrame, setText } from './dom.js';

const PERIOD = 14;
const CHANNEL_COUNT = 16;
const CENTRE = 992;
const LIMIT_RANGE = [1, 600000]; // ms, as zelkolink-bridge takes them
// Receivers commonly map 172..1811 to 988..2012 µs, so 992 is 1500 µs.
const LOW = [172, 988];
const HIGH = [1811, 2012];

export function microseconds(value) {
  return Math.round(LOW[1] + ((value - LOW[0]) * (HIGH[1] - LOW[1])) / (HIGH[0] - LOW[0]));
}

// What the frames are made from; the writer gets every change.
const config = { source: 'sliders', map: null, limits: DEFAULT_LIMITS };
const mapChecker = new BridgeCore();
// The running sender: its worker, and in page mode the port, writer and
// frame source of this side. shown holds the figures on display.
let sender = null;
let shown = null;

const view = {
  status: $('#sbus-status'),
  writer: $('#sbus-writer'),
  start: $('#sbus-start'),
  stop: $('#sbus-stop'),
  sbus2: $('#sbus2'),
  source: $('#sbus-source'),
  map: $('#sbus-map'),
  mapStatus: $('#sbus-map-status'),
  lost: $('#sbus-lost-ms'),
  failsafe: $('#sbus-failsafe-ms'),
  limitsStatus: $('#sbus-limits-status'),
  state: $('#sbus-state'),
  flags: $('#sbus-flags'),
  interval: $('#sbus-interval'),
  p99: $('#sbus-p99'),
  largest: $('#sbus-largest'),
  age: $('#sbus-age'),
  sliderBox: $('#sbus-sliders'),
  sliders: [],
};

function sliderValues() {
  return view.sliders.map((slider) => Number(slider.value));
}

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
    const shownValue = document.createElement('output');
    const show = () => { shownValue.textContent = `${slider.value} · ${microseconds(Number(slider.value))} µs`; };
    slider.addEventListener('input', () => {
      show();
      toWriter({ type: 'sliders', values: sliderValues() });
    });
    show();
    row.append(name, slider, shownValue);
    container.append(row);
    view.sliders.push(slider);
  }
}

function setStatus(status, writer = view.writer.textContent) {
  view.status.textContent = status;
  view.writer.textContent = writer;
  view.start.disabled = sender !== null || !('serial' in navigator);
  view.stop.disabled = sender === null;
}

// A change for whoever makes the frames: the worker, or this side's frame
// source in page mode.
function toWriter(message) {
  if (!sender) return;
  if (sender.mode !== 'page') {
    // Before the worker is ready, start will carry the whole configuration.
    if (sender.ready) sender.worker.postMessage(message);
    return;
  }
  const { frames } = sender;
  if (message.type === 'configure') frames.configure(message.config);
  else if (message.type === 'limits') frames.setLimits(message.limits);
  else if (message.type === 'sliders') frames.setSliders(message.values);
  else if (message.type === 'record') frames.offer(message.record);
}

// ------------------------------------------------------ writing, page mode

function writeHere(due) {
  if (!sender?.writer || sender.failed) return;
  const sent = clock();
  const frame = sender.frames.frame(sent, view.sbus2.checked);
  sender.cadence.record(sent, due);
  sender.ages.add(frame.age);
  shown = { cadence: sender.cadence.figures, ages: sender.ages.figures, state: frame.state, flags: frame.flags };
  // Not awaited: a slow write must not shift the deadlines.
  sender.writer.write(frame.bytes).catch((error) => {
    if (sender && !sender.failed) {
      sender.failed = true;
      stop(`lost: ${error.message}`);
    }
  });
}

async function writeFromPage(current, why) {
  current.mode = 'page';
  current.frames = new FrameSource();
  current.frames.configure(config);
  current.frames.setSliders(sliderValues());
  current.cadence = new Cadence();
  current.ages = new AgeFigures();
  setStatus('starting', `written by this page, not a worker: ${why}`);
  try {
    await current.port.open(SBUS_PORT);
  } catch (error) {
    stop(`not started: ${error.message}`, '');
    return;
  }
  if (sender !== current) {
    await current.port.close().catch(() => {});
    return;
  }
  current.writer = current.port.writable.getWriter();
  setStatus('sending');
}

// ------------------------------------------------------------- start, stop

function onWriterMessage(current, data) {
  if (sender !== current) return;
  switch (data.type) {
    case 'ready':
      current.ready = true;
      current.worker.postMessage({
        type: 'start', port: current.chosen, period: PERIOD, sbus2: view.sbus2.checked, config,
        sliders: sliderValues(),
      });
      break;
    case 'started':
      if (data.mode === 'worker') {
        current.mode = 'worker';
        setStatus('sending', 'written by a worker');
      } else {
        writeFromPage(current, data.why);
      }
      break;
    case 'due':
      writeHere(data.due);
      break;
    case 'figures':
      shown = data;
      break;
    case 'failed':
      stop(data.why);
      break;
    default:
      break;
  }
}

async function start() {
  if (sender) return;
  let port;
  try {
    port = await navigator.serial.requestPort();
  } catch (error) {
    setStatus(`not started: ${error.message}`);
    return;
  }
  const index = (await navigator.serial.getPorts()).indexOf(port);
  const worker = new Worker(new URL('./sbus-writer.js', import.meta.url), { type: 'module' });
  const current = { worker, port, chosen: { index, info: port.getInfo() }, mode: null, ready: false, failed: false };
  sender = current;
  shown = null;
  worker.onmessage = ({ data }) => onWriterMessage(current, data);
  worker.onerror = (event) => stop(`the SBUS worker failed: ${event.message}`);
  setStatus('starting', '');
}

async function stop(why = 'stopped', writer = view.writer.textContent) {
  const current = sender;
  if (!current) return;
  sender = null;
  if (current.mode === 'page') {
    current.worker.terminate();
    if (current.writer) {
      await current.writer.close().catch(() => {}); // a failed write has errored it already
      current.writer.releaseLock();
      await current.port.close().catch(() => {});
    }
  } else {
    // The worker closes its port, then goes.
    await new Promise((resolve) => {
      const timeout = setTimeout(resolve, 1000);
      current.worker.addEventListener('message', ({ data }) => {
        if (data.type === 'stopped') {
          clearTimeout(timeout);
          resolve();
        }
      });
      current.worker.postMessage({ type: 'stop' });
    });
    current.worker.terminate();
  }
  setStatus(why, writer);
}

// ------------------------------------------------------- source and limits

function showMapStatus(text, problem = false) {
  view.mapStatus.textContent = text;
  view.mapStatus.classList.toggle('problem', problem);
}

function defaultMapNote() {
  return config.map ? `using ${config.map.name}` : 'default map: channel k from device channel k (stdToSbus), or HID value k over its width; the rest 992';
}

async function chooseMap() {
  const [file] = view.map.files;
  if (!file) {
    config.map = null;
  } else {
    const text = await file.text();
    const problem = mapChecker.useMap(MAP_SOURCE[config.source], text, file.name);
    if (problem) {
      showMapStatus(problem, true);
      return;
    }
    config.map = { text, name: file.name };
  }
  showMapStatus(defaultMapNote());
  toWriter({ type: 'configure', config });
}

function chooseSource() {
  config.source = view.source.value;
  view.sliderBox.toggleAttribute('data-inactive', config.source !== 'sliders');
  toWriter({ type: 'configure', config });
}

function chooseLimits() {
  const lost = Number(view.lost.value);
  const failsafe = Number(view.failsafe.value);
  const whole = (value) => Number.isInteger(value) && value >= LIMIT_RANGE[0] && value <= LIMIT_RANGE[1];
  let problem = '';
  if (!whole(lost) || !whole(failsafe)) problem = `Each limit is a whole number of ms, ${LIMIT_RANGE[0]} to ${LIMIT_RANGE[1]}.`;
  else if (failsafe <= lost) problem = `Failsafe (${failsafe} ms) must come later than frame lost (${lost} ms).`;
  view.limitsStatus.textContent = problem;
  view.limitsStatus.hidden = !problem;
  if (problem) return;
  config.limits = { lost, failsafe };
  toWriter({ type: 'limits', limits: config.limits });
}

records.addEventListener('record', ({ detail }) => {
  if (sender && detail.source === config.source) toWriter({ type: 'record', record: detail });
});

// --------------------------------------------------------------- rendering

const ms = (value, digits = 1) => (value === null || value === undefined ? '–' : `${value.toFixed(digits)} ms`);

function render() {
  if (!shown) return;
  const { cadence, ages, state, flags } = shown;
  setText(view.interval, ms(cadence.meanInterval, 2));
  setText(view.p99, cadence.count ? ms(cadence.p99, 2) : '–');
  setText(view.largest, cadence.count ? ms(cadence.largest, 2) : '–');
  setText(view.age, ages.count ? `${ms(ages.mean)} mean, ${ms(ages.largest)} largest` : '–');
  if (state) {
    if (view.state.dataset.state !== state) view.state.dataset.state = state;
    setText(view.state, state === 'lost' ? 'frame lost' : state);
    setText(view.flags, `0x${flags.toString(16).toUpperCase().padStart(2, '0')}`);
  }
}

buildSliders(view.sliderBox);
showMapStatus(defaultMapNote());
view.start.addEventListener('click', () => start());
view.stop.addEventListener('click', () => stop());
view.sbus2.addEventListener('change', () => toWriter({ type: 'sbus2', sbus2: view.sbus2.checked }));
view.source.addEventListener('change', chooseSource);
view.map.addEventListener('change', () => chooseMap());
view.lost.addEventListener('change', chooseLimits);
view.failsafe.addEventListener('change', chooseLimits);
setStatus('idle', '');
onAnimationFrame(render);
