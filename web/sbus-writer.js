// The SBUS writer, a dedicated worker: it finds the port the page was
// granted (navigator.serial.getPorts()), opens it at 100000 baud 8E2, and
// makes and writes every frame on its own absolute deadlines, which
// rendering on the page does not hold back; timers in a worker also keep
// their pace in a background tab. Where the worker has no Web Serial, or cannot tell
// which port was chosen, it says so and only keeps the deadlines, and the
// page writes each frame itself (sbus.js).
//
// To the page first: ready, once this module and its imports are loaded (a
// message posted before then could find no handler). From the page then:
// start {port: {index, info}, period, sbus2, config, sliders}, configure,
// limits, sliders, sbus2, record, stop. To the page: started {mode: 'worker'
// | 'page', why}, due {due} (page mode), figures {...}, failed {why}, stopped.
import { clock as now } from './records.js';
import { Cadence, nextDeadline } from './sbus-cadence.js';
import { AgeFigures, FrameSource, SBUS_PORT } from './sbus-frames.js';

const FIGURES_EVERY = 250; // ms

const frames = new FrameSource();
let run = null;

// The port the page chose: the one at the same place in this context's list
// when its USB ids agree, or else the only one with those ids.
async function findPort({ index, info }) {
  const ports = await navigator.serial.getPorts();
  const same = (port) => {
    const seen = port.getInfo();
    return seen.usbVendorId === info.usbVendorId && seen.usbProductId === info.usbProductId;
  };
  if (ports[index] && same(ports[index])) return ports[index];
  const matches = ports.filter(same);
  return matches.length === 1 ? matches[0] : null;
}

// The figures of the frames this worker writes; in page mode the page keeps
// its own.
function postFigures() {
  if (!run?.writer) return;
  postMessage({ type: 'figures', cadence: run.cadence.figures, ages: run.ages.figures, state: run.state, flags: run.flags });
}

function schedule(last) {
  const due = nextDeadline(run.start, run.period, now(), last);
  run.timer = setTimeout(() => tick(due), Math.max(0, due - now()));
}

// One slot: the frame written (worker mode) or the deadline handed to the
// page (page mode), then the next slot armed.
function tick(due) {
  if (!run) return;
  if (run.writer) {
    const sent = now();
    const frame = frames.frame(sent, run.sbus2);
    run.cadence.record(sent, due);
    run.ages.add(frame.age);
    if (frame.state !== run.state) {
      run.state = frame.state;
      run.flags = frame.flags;
      postFigures();
    }
    // Not awaited: a slow write must not shift the deadlines. The stream
    // keeps the frames in order; a failed write ends the run.
    run.writer.write(frame.bytes).catch((error) => fail(`lost: ${error.message}`));
  } else {
    postMessage({ type: 'due', due });
  }
  schedule(due);
}

function begin(writer, period, sbus2) {
  run = { writer, period, sbus2, start: now(), cadence: new Cadence(), ages: new AgeFigures(), state: null, flags: 0 };
  run.figures = setInterval(postFigures, FIGURES_EVERY);
  schedule();
}

async function start({ port: chosen, period, sbus2, config, sliders }) {
  frames.configure(config);
  frames.setSliders(sliders);
  let port = null;
  let why = '';
  if (!('serial' in navigator)) {
    why = 'this browser has no Web Serial in workers';
  } else {
    port = await findPort(chosen);
    if (!port) why = 'the worker cannot tell which port was chosen';
  }
  if (!port) {
    postMessage({ type: 'started', mode: 'page', why });
    begin(null, period, sbus2);
    return;
  }
  try {
    await port.open(SBUS_PORT);
  } catch (error) {
    postMessage({ type: 'failed', why: `not started: ${error.message}` });
    return;
  }
  postMessage({ type: 'started', mode: 'worker' });
  begin(port.writable.getWriter(), period, sbus2);
  run.port = port;
}

async function stop() {
  const current = run;
  run = null;
  if (!current) return;
  clearTimeout(current.timer);
  clearInterval(current.figures);
  if (current.writer) {
    await current.writer.close().catch(() => {}); // a failed write has errored it already
    current.writer.releaseLock();
    await current.port.close().catch(() => {});
  }
}

async function fail(why) {
  if (!run) return;
  await stop();
  postMessage({ type: 'failed', why });
}

onmessage = ({ data }) => {
  switch (data.type) {
    case 'start':
      start(data);
      break;
    case 'stop':
      stop().then(() => postMessage({ type: 'stopped' }));
      break;
    case 'configure':
      frames.configure(data.config);
      break;
    case 'limits':
      frames.setLimits(data.limits);
      break;
    case 'sliders':
      frames.setSliders(data.values);
      break;
    case 'sbus2':
      if (run) run.sbus2 = data.sbus2;
      break;
    case 'record':
      frames.offer(data.record);
      break;
    default:
      break;
  }
};
postMessage({ type: 'ready' });
