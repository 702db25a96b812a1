// The live page in Debian's chromium, headless. The port double carries
// zelkolink-sim's real bytes both ways through a raw relay of its
// pseudo-terminal; the HID double hands the page reports; SBUS frames the
// page writes are decoded here. The values shown are checked against the
// simulator's record decoded offline by zelkolink-dump. Figures (SBUS
// cadence, render rate at 1,000 frames/s) are printed, never asserted.
//
//   ZELKOLINK_WEB_SITE=build/wasm/web ZELKOLINK_WEB_MODULES=build/wasm/web-test \
//   ZELKOLINK_NATIVE_BIN=build/linux/bin node --test tests/web/page_test.mjs
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdirSync, mkdtempSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { installDoubles, removeApis } from './doubles.js';
import { launchBrowser, openPage, serveFolder, shownValues } from './harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const site = process.env.ZELKOLINK_WEB_SITE;
const bin = process.env.ZELKOLINK_NATIVE_BIN;
const sim = path.join(bin ?? '', 'zelkolink-sim');
const dump = path.join(bin ?? '', 'zelkolink-dump');
const shots = process.env.ZELKOLINK_WEB_SCREENSHOTS ?? path.join(site ?? '.', '..', 'web-screenshots');
const work = mkdtempSync(path.join(os.tmpdir(), 'zelkolink-web-'));
const children = new Set(); // every process started, ended in after() whatever failed

function start(command, args, options) {
  const child = spawn(command, args, options);
  children.add(child);
  child.on('exit', () => children.delete(child));
  return child;
}

// ------------------------------------------------------------ the device

// zelkolink-sim on a pseudo-terminal, opened raw by pty_relay.py; the relay's
// output is what the page's reads return, in chunks as large as arrived.
async function startSimulator(rate) {
  const record = path.join(work, `sim-${rate}-${Date.now()}.record`);
  const child = start(sim, ['--record', record, '--rate', String(rate), '--noise', '--seed', '11'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  let log = '';
  child.stderr.on('data', (text) => { log += text; });
  const [first] = await once(child.stdout, 'data');
  const relay = start('python3', [path.join(here, 'pty_relay.py'), first.toString().trim()],
    { stdio: ['pipe', 'pipe', 'inherit'] });
  return { child, relay, record, events: () => log.split('\n').filter(Boolean) };
}

async function stopSimulator(simulator) {
  simulator.relay.stdin.end();
  await once(simulator.relay, 'close');
  simulator.child.kill('SIGTERM');
  // 'close', not 'exit': the simulator's last log lines arrive before it.
  await once(simulator.child, 'close');
}

// The values after the last frame within the first `bytes` bytes recorded.
function expectedAt(record, bytes) {
  const records = execFileSync(dump, ['--chunk', '1', '--json', record], { encoding: 'utf8', maxBuffer: 1 << 30 })
    .trim().split('\n').map((line) => JSON.parse(line));
  return records.filter((r) => r.offset <= bytes).at(-1);
}

// The test's side of every port the page opens. A port bound to a
// simulator passes its bytes; any other one (SBUS) only collects writes.
class Ports {
  constructor() {
    this.ports = [];
    this.simulator = null;
    this.gather = 40; // ms a read waits for more bytes, so chunks run large
  }

  async expose(page) {
    await page.exposeFunction('__zlSerialOpen', (id, options) => this.open(id, options));
    await page.exposeFunction('__zlSerialRead', (id) => this.read(id));
    await page.exposeFunction('__zlSerialWrite', (id, data) => this.write(id, data));
    await page.exposeFunction('__zlSerialCancel', (id) => this.finish(this.ports[id], { done: true }));
    await page.exposeFunction('__zlSerialClose', (id) => { this.ports[id].closed = true; });
  }

  open(id, options) {
    const port = { id, options, simulator: this.simulator, pending: [], waiting: null, delivered: 0,
      chunks: [], writes: [], closed: false, ended: null };
    this.ports[id] = port;
    if (port.simulator) {
      port.simulator.relay.stdout.on('data', (data) => {
        port.pending.push(data);
        if (port.waiting && !port.timer) port.timer = setTimeout(() => this.flush(port), this.gather);
      });
    }
  }

  read(id) {
    const port = this.ports[id];
    if (port.ended) return port.ended;
    return new Promise((resolve) => {
      port.waiting = resolve;
      if (port.pending.length && !port.timer) port.timer = setTimeout(() => this.flush(port), this.gather);
    });
  }

  flush(port) {
    port.timer = null;
    if (!port.waiting || port.ended) return;
    const data = Buffer.concat(port.pending);
    port.pending = [];
    port.delivered += data.length;
    port.chunks.push(data.length);
    const resolve = port.waiting;
    port.waiting = null;
    resolve({ data: data.toString('base64') });
  }

  // Ends the port's reads: {done} when the page cancels, {lost} to unplug.
  finish(port, reply) {
    port.ended = reply;
    clearTimeout(port.timer);
    if (port.waiting) port.waiting(reply);
    port.waiting = null;
  }

  write(id, data) {
    const port = this.ports[id];
    const bytes = Buffer.from(data, 'base64');
    port.writes.push({ time: performance.now(), bytes });
    if (port.simulator) port.simulator.relay.stdin.write(bytes);
  }

  last() {
    return this.ports.at(-1);
  }
}

// ------------------------------------------------------------------ page

let server;
let browser;
const figures = [];

async function openSite({ doubles = true } = {}) {
  const { page, errors } = await openPage(browser);
  const ports = new Ports();
  const hid = { requests: [] };
  await ports.expose(page);
  await page.exposeFunction('__zlHidRequest', (options) => { hid.requests.push(options); });
  await page.evaluateOnNewDocument(doubles ? installDoubles : removeApis);
  await page.goto(server.url, { waitUntil: 'load' });
  await page.waitForSelector('body[data-ready="true"]');
  return { page, errors, ports, hid };
}

const statusIs = (page, status, selector = '#status') => page.waitForFunction(
  (s, wanted) => document.querySelector(s).textContent === wanted, { timeout: 10_000 }, selector, status);

// Waits until this connection has brought the page some frames.
async function waitForFrames(page, ports) {
  const port = ports.last();
  const deadline = Date.now() + 10_000;
  while (port.delivered < 2000) {
    assert.ok(Date.now() < deadline, `the page got only ${port.delivered} bytes from the simulator`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  await page.waitForFunction(() => Number(document.querySelector('#fps').textContent) > 0, { timeout: 10_000 });
}

async function checkValues(page, record, delivered, what) {
  const expected = expectedAt(record, delivered);
  assert.ok(expected, `${what}: no frame within the ${delivered} bytes delivered`);
  // Rendering follows on the next animation frame.
  await page.waitForFunction((inputs, channels) => inputs.every((v, k) =>
    document.querySelector(`[data-input="${k}"]`).textContent === String(v))
    && channels.every((v, k) => document.querySelector(`[data-channel="${k}"]`).textContent === String(v)),
  { timeout: 5000 }, expected.inputs, expected.channels).catch(() => {});
  assert.deepEqual(await shownValues(page, 'input', 9), expected.inputs, `${what}: inputs`);
  assert.deepEqual(await shownValues(page, 'channel', 32), expected.channels, `${what}: channels`);
}

const skip = !site || !bin ? 'set ZELKOLINK_WEB_SITE and ZELKOLINK_NATIVE_BIN' : undefined;

describe('the live page in chromium', { skip }, () => {
  before(async () => {
    mkdirSync(shots, { recursive: true });
    server = await serveFolder(site);
    browser = await launchBrowser();
  });

  after(async () => {
    for (const child of children) child.kill('SIGTERM');
    await browser?.close();
    await server?.close();
    for (const line of figures) console.log(line);
  });

  test('the device panel shows the simulator\'s values, through every status', async () => {
    const { page, errors, ports } = await openSite();
    assert.equal(await page.$eval('#support', (e) => e.hidden), true, 'no API is missing with the doubles');

    // A connection, then a disconnect: the request and the stop frame reach
    // the simulator, and the values shown are the record decoded offline.
    ports.simulator = await startSimulator(200);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await new Promise((resolve) => setTimeout(resolve, 1500));
    // Hold further bytes first: a chunk on its way when the read is
    // cancelled would count as delivered but never reach the parser.
    ports.gather = 1e9;
    await new Promise((resolve) => setTimeout(resolve, 100));
    await page.click('#disconnect-port');
    await statusIs(page, 'disconnected');
    const first = ports.last();
    await stopSimulator(ports.simulator);
    assert.deepEqual(first.options, { baudRate: 115200, dataBits: 8, parity: 'none', stopBits: 1 });
    assert.ok(first.closed, 'the port is closed after a disconnect');
    assert.deepEqual(ports.simulator.events().filter((e) => /^(request|stop)/.test(e)), ['request 01 00', 'stop']);
    assert.ok(Math.max(...first.chunks) > 255, `chunks above 255 bytes (largest ${Math.max(...first.chunks)})`);
    await checkValues(page, ports.simulator.record, first.delivered, 'after a disconnect');

    // A second connection with its own request bytes; the device goes away
    // (the port fires disconnect, the read never ends): lost, values stay.
    await page.$eval('#request', (e) => { e.value = '02,7f'; });
    ports.gather = 40;
    ports.simulator = await startSimulator(300);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await new Promise((resolve) => setTimeout(resolve, 800));
    const second = ports.last();
    ports.gather = 1e9; // hold further bytes, so the page has seen exactly `delivered`
    await new Promise((resolve) => setTimeout(resolve, 100));
    await page.evaluate((id) => window.__zlUnplug(id), second.id);
    await statusIs(page, 'lost');
    assert.ok(second.closed, 'the port is closed once lost');
    await stopSimulator(ports.simulator);
    assert.deepEqual(ports.simulator.events().filter((e) => /^request/.test(e)), ['request 02 7F']);
    await checkValues(page, ports.simulator.record, second.delivered, 'after the device went away');

    // A third connection at 1,000 frames/s whose read fails: lost again.
    // The page's frame count and render rate are figures to report.
    ports.gather = 40;
    ports.simulator = await startSimulator(1000);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await page.$eval('[data-chart="ch5"]', (box) => box.click());
    const samples = [];
    for (let k = 0; k < 5; k++) {
      await new Promise((resolve) => setTimeout(resolve, 1000));
      samples.push(await page.evaluate(() => [Number(document.querySelector('#fps').textContent),
        Number(document.querySelector('#render-fps').textContent)]));
    }
    await (await page.$('#device-panel')).screenshot({ path: path.join(shots, 'device-panel.png') });
    const third = ports.last();
    ports.finish(third, { lost: 'The device has been lost.' });
    await statusIs(page, 'lost');
    await stopSimulator(ports.simulator);
    await checkValues(page, ports.simulator.record, third.delivered, 'at 1,000 frames/s, after a failed read');
    const mean = (k) => (samples.reduce((sum, s) => sum + s[k], 0) / samples.length).toFixed(1);
    figures.push(`web: at --rate 1000 the page counted ${mean(0)} frames/s and rendered ${mean(1)} frames/s `
      + `(means of ${samples.length} one-second readings; chunks up to ${Math.max(...third.chunks)} bytes)`);

    await page.screenshot({ path: path.join(shots, 'page.png'), fullPage: true });
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('the HID panel decodes both layouts and counts other reports', async () => {
    const { page, errors, hid } = await openSite();
    await page.click('#connect-hid');
    await page.waitForFunction(() => document.querySelector('#hid-status').textContent.startsWith('connected'));
    assert.ok(hid.requests[0].filters.some((f) => f.usagePage === 1 && f.usage === 5), 'gamepads are admitted');

    const reports = {
      game: [0x01, 0x80, 0x7f, 0x10, 0x20, 0x30, 0x21, 0x43, 0x65, 0x0f, 0xf0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88],
      compatible: [0xfa, 0x01, 0x02, 0x03, 0x34, 0x12, 0x78, 0x56, 0xbc, 0x9a, 0xf0, 0xde, 0x11, 0x01, 0x22, 0x02,
        0x33, 0x03, 0x44, 0x04, 0x55, 0x05, 0x5f],
    };
    const hexFile = path.join(work, 'reports.hex');
    const hex = (bytes) => bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ');
    writeFileSync(hexFile, `${hex(reports.game)}\n${hex(reports.compatible)}\n`);
    const [game, compatible] = execFileSync(dump, ['--hid-file', hexFile, '--json'], { encoding: 'utf8' })
      .trim().split('\n').map((line) => JSON.parse(line));

    const send = (bytes, reportId = 0) => page.evaluate((r, b) => window.__zlHidReport(0, r, b), reportId, bytes);
    const shown = async () => (await shownValues(page, 'hid', 11));
    const layoutIs = (layout) => page.waitForFunction((l) => document.querySelector('#hid-layout').textContent === l,
      { timeout: 5000 }, layout);

    assert.equal(await send(reports.game, 1), true);
    await layoutIs(game.layout);
    assert.equal(game.layout, 'game-controller');
    await page.waitForFunction((v) => document.querySelector('[data-hid="10"]').textContent === String(v),
      { timeout: 5000 }, game.values[10]);
    assert.deepEqual(await shown(), game.values);

    await send(reports.compatible);
    await layoutIs('compatible');
    assert.equal(compatible.layout, 'compatible');
    await page.waitForFunction((v) => document.querySelector('[data-hid="0"]').textContent === String(v),
      { timeout: 5000 }, compatible.values[0]);
    assert.deepEqual(await shown(), [...compatible.values, null, null]);

    // Another length, 23 bytes not starting FA, and the game-controller
    // length plus its report ID byte: counted, and the values stay.
    await send(reports.game.slice(0, 18));
    await send([0x00, ...reports.compatible.slice(1)]);
    await send([0x01, ...reports.game]);
    await page.waitForFunction(() => document.querySelector('#hid-rejected').textContent === '3', { timeout: 5000 });
    assert.deepEqual(await shown(), [...compatible.values, null, null]);
    assert.equal(await page.$eval('#hid-layout', (e) => e.textContent), 'compatible');

    await send(reports.game);
    await layoutIs('game-controller');
    await (await page.$('#hid-panel')).screenshot({ path: path.join(shots, 'hid-panel.png') });
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('the SBUS panel sends the sliders at 100000/even/2, SBUS2 end bytes cycling', async () => {
    const { page, errors, ports } = await openSite();
    const sliders = [172, 992, 1811, 0, 2047, 1000, 1500, 500, 992, 992, 992, 992, 300, 1700, 1024, 7];
    await page.evaluate((values) => values.forEach((value, k) => {
      const slider = document.querySelector(`[data-sbus="${k}"]`);
      slider.value = String(value);
      slider.dispatchEvent(new Event('input'));
    }), sliders);
    await page.click('#sbus-start');
    await statusIs(page, 'sending', '#sbus-status');
    const port = ports.last();
    assert.deepEqual(port.options, { baudRate: 100000, dataBits: 8, parity: 'even', stopBits: 2 });
    await new Promise((resolve) => setTimeout(resolve, 2000));
    await page.click('#sbus2');
    await new Promise((resolve) => setTimeout(resolve, 500));
    const interval = await page.$eval('#sbus-interval', (e) => e.textContent);
    const lateness = await page.$eval('#sbus-lateness', (e) => e.textContent);
    await (await page.$('#sbus-panel')).screenshot({ path: path.join(shots, 'sbus-panel.png') });
    await page.click('#sbus-stop');
    await statusIs(page, 'stopped', '#sbus-status');
    assert.ok(port.closed, 'the port is closed after stop');
    const sent = port.writes.length;
    await new Promise((resolve) => setTimeout(resolve, 100));
    assert.equal(port.writes.length, sent, 'nothing is written after stop');

    for (const { bytes } of port.writes) {
      assert.equal(bytes.length, 25);
      assert.equal(bytes[0], 0x0f);
      assert.deepEqual(sbusChannels(bytes), sliders);
    }
    const ends = port.writes.map(({ bytes }) => bytes[24]);
    const v1 = ends.indexOf(0x04) === -1 ? ends.length : ends.findIndex((e) => e !== 0);
    assert.ok(v1 > 50, `SBUS frames end 00 before the switch (${v1} of them)`);
    assert.ok(ends.slice(0, v1).every((e) => e === 0));
    const v2 = ends.slice(v1);
    assert.ok(v2.length >= 8, `SBUS2 frames after the switch (${v2.length})`);
    const cycle = [0x04, 0x14, 0x24, 0x34];
    const step = cycle.indexOf(v2[0]);
    assert.notEqual(step, -1, `an SBUS2 end byte, not ${v2[0]}`);
    v2.forEach((end, k) => assert.equal(end, cycle[(step + k) % 4], `SBUS2 frame ${k}`));

    const times = port.writes.map((w) => w.time);
    const gaps = times.slice(1).map((t, k) => t - times[k]);
    figures.push(`web: SBUS in the browser: ${sent} frames; the page measured mean interval ${interval}, `
      + `latest send ${lateness} after its deadline; seen by the test: mean ${((times.at(-1) - times[0]) / (sent - 1)).toFixed(2)} ms, `
      + `largest gap ${Math.max(...gaps).toFixed(1)} ms`);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('without Web Serial and WebHID the page says so, and the demo still plays', async () => {
    const { page, errors } = await openSite({ doubles: false });
    const notice = await page.$eval('#support', (e) => (e.hidden ? '' : e.textContent));
    assert.match(notice, /no Web Serial.*Chrome, Edge, Opera/s);
    assert.match(notice, /no WebHID.*Chrome, Edge, Opera/s);
    assert.equal(await page.$eval('#connect-port', (e) => e.disabled), true);
    await page.click('#demo');
    await statusIs(page, 'demo finished');
    const expected = expectedAt(path.join(site, 'sample_port_stream.bin'), Infinity);
    await checkValues(page, path.join(site, 'sample_port_stream.bin'), Infinity, 'the demo');
    assert.deepEqual(await shownValues(page, 'input', 9), expected.inputs);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('once loaded, the page and its demo work offline', async () => {
    const { page, errors } = await openSite();
    await page.evaluate(() => navigator.serviceWorker.ready);
    await page.reload({ waitUntil: 'load' }); // now under the worker's control
    await page.evaluate(() => navigator.serviceWorker.ready);
    await page.setOfflineMode(true);
    await page.reload({ waitUntil: 'load' });
    await page.waitForSelector('body[data-ready="true"]', { timeout: 10_000 });
    await page.click('#demo');
    await statusIs(page, 'demo finished');
    await checkValues(page, path.join(site, 'sample_port_stream.bin'), Infinity, 'the demo offline');
    await page.setOfflineMode(false);
    assert.deepEqual(errors, []);
    await page.close();
  });
});

// The sixteen 11-bit channels of an SBUS frame, least significant bit first.
function sbusChannels(frame) {
  const channels = [];
  let bits = 0;
  let value = 0;
  let at = 1;
  while (channels.length < 16) {
    while (bits < 11) {
      value |= frame[at++] << bits;
      bits += 8;
    }
    channels.push(value & 0x7ff);
    value >>= 11;
    bits -= 11;
  }
  return channels;
}
