// The device panel: a port opened with Web Serial, the request frame
// written, every chunk read fed with its time to the readers of this
// connection's own, and the newest record rendered once per animation frame.
// The readers are a PortParser for the values shown and a BridgeCore that
// tells the SBUS panel what each record carried (records.js). Every read and
// write of a connection is kept for the last ten minutes, to be saved as a
// capture; a capture opened (the demo's is the bundled sample) plays down
// the same road as the port's reads.
import { PortParser, requestFrame, stopFrame } from './zelkolink.js';
import { BridgeCore } from './bridge-core.js';
import { LARGEST_CAPTURE, openCapture, portName, saveCapture } from './capture.js';
import { Replay } from './replay.js';
import {
  RateMeter, Recording, feedCounting, formatAge, isStale, parseRequest, scaleFor, staleNote,
} from './panel-logic.js';
import { clock, publish } from './records.js';
import { StripChart } from './chart.js';
import { $, buildCells, markStale, onAnimationFrame, setText, showValues } from './dom.js';

const INPUT_COUNT = 9;
const CHANNEL_COUNT = 32;
const SAMPLE_CAPTURE = 'sample_port_stream.pcapng';

// The newest record and the counters. The values stay on screen after a
// disconnect or a lost port, marked stale; the counters go on counting down
// to zero. Times are on the records' clock (records.js).
const latest = {
  inputs: null, channels: null, lastFrame: null, charted: null, dirty: false,
  fresh: { inputs: null, channels: null }, // when each part last came
};
const frameRate = new RateMeter();
const byteRate = new RateMeter();
const scales = { in: 255, ch: 255 };

// The open connection, or null; the last connection's recording (kept
// after it ends, to be saved), or null; the capture playing, or null.
let link = null;
let recording = null;
let replay = null;
let replayDetail = '';
let dragging = false; // the position slider, while the user moves it

const view = {
  status: $('#status'),
  detail: $('#status-detail'),
  fps: $('#fps'),
  bps: $('#bps'),
  age: $('#since'),
  stale: $('#stale-note'),
  connect: $('#connect-port'),
  disconnect: $('#disconnect-port'),
  demo: $('#demo'),
  save: $('#save-capture'),
  open: $('#open-capture'),
  play: $('#replay-play'),
  position: $('#replay-position'),
  replayTime: $('#replay-time'),
  captureNote: $('#capture-note'),
  inputs: buildCells($('#inputs'), { prefix: 'in', count: INPUT_COUNT, attribute: 'input', chart: true }),
  channels: buildCells($('#channels'), { prefix: 'ch', count: CHANNEL_COUNT, attribute: 'channel', chart: true }),
};
const chart = new StripChart($('#chart'));

function setStatus(status, detail = '') {
  view.status.textContent = status;
  view.status.dataset.status = status.split(' ')[0];
  view.detail.textContent = detail;
  view.connect.disabled = link !== null || !('serial' in navigator);
  view.disconnect.disabled = link === null;
  view.play.disabled = replay === null;
  view.position.disabled = replay === null;
}

// A connection's readers: a fresh pair for every connection (and every
// demo), so no frame ever mixes two connections' bytes.
export function newReaders() {
  return { parser: new PortParser(), core: new BridgeCore() };
}

// One road for every byte: the chunk, whatever its size, read at `time`.
export function ingest(readers, chunk, time = clock()) {
  byteRate.add(time, chunk.length);
  const frames = feedCounting(readers.parser, chunk);
  const carried = readers.core.feedPort(chunk);
  if (carried.frame) {
    const { inputs, channels } = readers.core.values;
    publish({ source: 'device', values: { inputs, channels }, carried, time });
  }
  if (carried.inputs) latest.fresh.inputs = time;
  if (carried.channels) latest.fresh.channels = time;
  if (frames === 0) return;
  frameRate.add(time, frames);
  latest.inputs = readers.parser.inputs;
  latest.channels = readers.parser.channels;
  latest.lastFrame = time;
  latest.dirty = true;
}

// ------------------------------------------------------------------ port

// One road for every byte written to the device, as ingest is for every
// byte read; both are recorded as they happen.
function write(current, bytes) {
  current.recording.add(clock(), true, bytes);
  return current.writer.write(bytes);
}

async function connect() {
  const request = parseRequest($('#request').value);
  const baudRate = Number($('#baud').value);
  if (link) return;
  if (!request) {
    setStatus('idle', 'The request is two hex bytes, such as 01,00.');
    return;
  }
  stopReplay();
  view.connect.disabled = true; // one port picker at a time
  let port;
  try {
    port = await navigator.serial.requestPort();
  } catch (error) {
    setStatus('idle', error.name === 'NotFoundError' ? 'No port was chosen.' : error.message);
    return;
  }
  try {
    await port.open({ baudRate, dataBits: 8, parity: 'none', stopBits: 1 });
  } catch (error) {
    setStatus('idle', `The port did not open: ${error.message}`);
    return;
  }
  const current = { port, readers: newReaders(), closing: false,
    recording: new Recording(portName(port), `${baudRate} 8N1`) };
  link = current;
  recording = current.recording;
  current.onDisconnect = () => lose(current, 'The device went away.');
  port.addEventListener('disconnect', current.onDisconnect);
  current.writer = port.writable.getWriter();
  current.reader = port.readable.getReader();
  setStatus('connected', `${baudRate} baud, 8N1`);
  current.reading = readAll(current);
  current.reading.then((why) => why && lose(current, why));
  try {
    await write(current, requestFrame(request[0], request[1]));
  } catch (error) {
    await lose(current, `Writing the request failed: ${error.message}`);
  }
}

// Reads until the port fails or the read is cancelled. Returns why the
// link was lost, or '' when it was closed on purpose; the caller acts on it,
// since releasing the port waits for this very loop to end.
async function readAll(current) {
  try {
    for (;;) {
      const { value, done } = await current.reader.read();
      if (done) break;
      const time = clock();
      current.recording.add(time, false, value);
      ingest(current.readers, value, time);
    }
    return current.closing ? '' : 'The port stopped sending.';
  } catch (error) {
    return current.closing ? '' : `The read failed: ${error.message}`;
  }
}

// Cancels the read, waits for the read loop to end, releases both streams
// and closes the port; the link is gone at once, whatever fails on the way.
async function release(current) {
  current.closing = true;
  if (link === current) link = null;
  current.port.removeEventListener('disconnect', current.onDisconnect);
  await current.reader.cancel().catch(() => {});
  if (current.reading) await current.reading;
  current.reader.releaseLock();
  current.writer.releaseLock();
  try {
    await current.port.close();
    return '';
  } catch (error) {
    return ` Closing the port failed: ${error.message}`;
  }
}

async function lose(current, why) {
  if (current.closing) return;
  const trouble = await release(current);
  setStatus('lost', why + trouble);
}

async function disconnect() {
  const current = link;
  if (!current || current.closing) return;
  current.closing = true;
  let why = '';
  try {
    await write(current, stopFrame());
  } catch (error) {
    why = `The stop frame was not sent: ${error.message}`;
  }
  why += await release(current);
  setStatus('disconnected', why);
}

// ------------------------------------------------------------- captures

// One line under the controls about the last capture opened, or ''.
function captureNote(text, problem = false) {
  view.captureNote.textContent = text;
  view.captureNote.classList.toggle('problem', problem);
}

function stopReplay() {
  replay?.stop();
  replay = null;
  view.play.textContent = 'Play';
  view.position.value = '0';
  setText(view.replayTime, '');
}

// Plays a capture's reads into the panel as a port would deliver them. A
// file that cannot be played changes nothing but the capture note.
function playCapture(name, bytes) {
  if (link) {
    captureNote(`${name}: not played while a port is connected; disconnect first`, true);
    return;
  }
  const opened = openCapture(name, bytes);
  if (opened.problem) {
    captureNote(opened.problem, true);
    return;
  }
  stopReplay();
  captureNote(opened.notes.join('\n'));
  let readers;
  const playing = new Replay(opened.packets, {
    start: () => { readers = newReaders(); },
    feed: (chunk, time) => ingest(readers, chunk, time),
    ended: () => {
      view.play.textContent = 'Play';
      setStatus('replay finished', `${replayDetail}; played to its end, Play plays it again.`);
    },
  });
  replay = playing;
  replayDetail = `${name}: ${opened.packets.length} blocks, ${(playing.duration / 1000).toFixed(1)} s`;
  view.position.max = String(Math.ceil(playing.duration));
  togglePlay();
}

function togglePlay() {
  if (!replay) return;
  if (replay.state === 'playing') replay.pause();
  else replay.play();
  if (replay.state !== 'finished') setStatus('replay', replayDetail);
  view.play.textContent = replay.state === 'playing' ? 'Pause' : 'Play';
}

function seek() {
  dragging = false;
  if (!replay) return;
  replay.seek(Number(view.position.value));
  if (replay.state !== 'finished') setStatus('replay', replayDetail);
}

async function openFile(file) {
  if (!file) return;
  if (file.size > LARGEST_CAPTURE) {
    captureNote(`${file.name}: ${(file.size / 2 ** 20).toFixed(0)} MiB, more than the `
      + `${LARGEST_CAPTURE / 2 ** 20} MiB the page opens`, true);
    return;
  }
  try {
    playCapture(file.name, new Uint8Array(await file.arrayBuffer()));
  } catch (error) {
    captureNote(`${file.name}: ${error.message}`, true);
  }
}

async function playDemo() {
  if (link) return;
  let bytes;
  try {
    const response = await fetch(SAMPLE_CAPTURE);
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    bytes = new Uint8Array(await response.arrayBuffer());
  } catch (error) {
    captureNote(`${SAMPLE_CAPTURE}: the sample capture did not load: ${error.message}`, true);
    return;
  }
  playCapture(SAMPLE_CAPTURE, bytes);
}

// ------------------------------------------------------------- rendering

function pickedSeries() {
  return [...document.querySelectorAll('[data-chart]:checked')].map((box) => box.dataset.chart);
}

function valueOf(name) {
  const values = name.startsWith('in') ? latest.inputs : latest.channels;
  return values ? values[Number(name.slice(2))] : undefined;
}

function render() {
  const now = clock();
  if (latest.dirty) {
    latest.dirty = false;
    scales.in = Math.max(scales.in, scaleFor(Math.max(...latest.inputs)));
    scales.ch = Math.max(scales.ch, scaleFor(Math.max(...latest.channels)));
    showValues(view.inputs, latest.inputs, scales.in);
    showValues(view.channels, latest.channels, scales.ch);
    setText($('#input-scale'), String(scales.in));
    setText($('#channel-scale'), String(scales.ch));
  }
  setText(view.fps, String(Math.round(frameRate.rate(now))));
  setText(view.bps, String(Math.round(byteRate.rate(now))));
  setText(view.age, formatAge(latest.lastFrame, now));
  markStale(view.inputs, isStale(latest.fresh.inputs, now));
  markStale(view.channels, isStale(latest.fresh.channels, now));
  const freshest = Math.max(latest.fresh.inputs ?? -Infinity, latest.fresh.channels ?? -Infinity);
  setText(view.stale, staleNote(freshest === -Infinity ? null : freshest, now));
  chart.pick(pickedSeries());
  // A point per animation frame that brought news: no flat line is drawn
  // through a time without frames.
  if (latest.lastFrame !== null && latest.lastFrame !== latest.charted) {
    latest.charted = latest.lastFrame;
    chart.sample(now, valueOf);
  }
  chart.draw(now, (name) => scales[name.slice(0, 2)]);
  view.save.disabled = !recording?.size;
  if (replay) {
    const position = Math.round(replay.position);
    if (!dragging) view.position.value = String(position);
    setText(view.replayTime, `${(position / 1000).toFixed(1)} / ${(replay.duration / 1000).toFixed(1)} s`);
  }
}

for (const name of ['in0', 'ch0', 'ch1']) document.querySelector(`[data-chart="${name}"]`).checked = true;
view.connect.addEventListener('click', () => connect());
view.disconnect.addEventListener('click', () => disconnect());
view.demo.addEventListener('click', () => playDemo());
view.save.addEventListener('click', () => recording?.size && saveCapture(recording));
view.open.addEventListener('change', () => {
  openFile(view.open.files[0]);
  view.open.value = ''; // the same file chosen again plays again
});
view.play.addEventListener('click', () => togglePlay());
view.position.addEventListener('input', () => { dragging = true; });
view.position.addEventListener('change', () => seek());
const panel = $('#device-panel');
panel.addEventListener('dragover', (event) => event.preventDefault());
panel.addEventListener('drop', (event) => {
  event.preventDefault();
  openFile(event.dataTransfer.files[0]);
});
setStatus('idle');
onAnimationFrame(render);
