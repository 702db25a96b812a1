// The live page in Debian's chromium, headless. The port double carries
// zelkolink-sim's real bytes both ways through a raw relay of its
// pseudo-terminal, in the page and in the SBUS worker alike; the HID double
// hands the page reports; SBUS frames are decoded here. Values shown and
// sent are checked against the simulator's record decoded offline by
// zelkolink-dump, and against the bridge's case table; captures the page
// saves are read back by tshark through the dissector, and captures it
// opens play as zelkolink-dump decodes them. Figures (SBUS
// cadence, render rate at 1,000 frames/s) are printed, never asserted.
//
//   ZELKOLINK_WEB_SITE=build/wasm/web ZELKOLINK_WEB_MODULES=build/wasm/web-test \
//   ZELKOLINK_NATIVE_BIN=build/linux/bin node --test tests/web/page_test.mjs
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import {
  allowDownloads, launchBrowser, openSite as openSiteIn, serveFolder, shownValues, startRelayedSimulator, stopDevice,
} from './harness.mjs';
import {
  dissect, endChildren, kind2Frame, offlineRecords, recordAt, sbusChannels, standardSbus, startSimulator,
  stopSimulator, waitFor, workDir,
} from '../tool_harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const site = process.env.ZELKOLINK_WEB_SITE;
const bin = process.env.ZELKOLINK_NATIVE_BIN;
const sim = path.join(bin ?? '', 'zelkolink-sim');
const dump = path.join(bin ?? '', 'zelkolink-dump');
const shots = process.env.ZELKOLINK_WEB_SCREENSHOTS ?? path.join(site ?? '.', '..', 'web-screenshots');
const work = workDir('web');
const cases = JSON.parse(readFileSync(path.join(here, '..', 'bridge_cases.json'), 'utf8'));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ------------------------------------------------------------------ page

let server;
let browser;
const figures = [];
const openSite = (options) => openSiteIn(browser, server.url, options);
const startDevice = (rate) => startRelayedSimulator(sim, work, rate);

// Waits for a status; one that never comes is named with the status shown.
const statusIs = (page, status, selector = '#status') => page.waitForFunction(
  (s, wanted) => document.querySelector(s).textContent === wanted, { timeout: 10_000 }, selector, status)
  .catch(async (error) => {
    const shown = await page.evaluate((s) => [s, '#status-detail', '#sbus-writer']
      .map((other) => document.querySelector(other).textContent).join(' | '), selector).catch(() => '');
    throw new Error(`${selector} never read "${status}" (${error.message}); shown: ${shown}`);
  });
const stateIs = (page, state) => page.waitForFunction(
  (wanted) => document.querySelector('#sbus-state').dataset.state === wanted, { timeout: 10_000 }, state);
const staleCells = (page, panel) => page.$$eval(`${panel} .cell[data-stale]`, (cells) => cells.length);

// Waits until this connection has brought the page some frames.
async function waitForFrames(page, ports) {
  const port = ports.last();
  await waitFor(() => port.delivered >= 2000, `2000 bytes from the simulator (${port.delivered} came)`);
  await page.waitForFunction(() => Number(document.querySelector('#fps').textContent) > 0, { timeout: 10_000 });
}

async function checkValues(page, record, delivered, what) {
  const expected = recordAt(offlineRecords(dump, record), delivered);
  assert.ok(expected, `${what}: no frame within the ${delivered} bytes delivered`);
  await checkShown(page, expected, what);
}

async function checkShown(page, expected, what) {
  // Rendering follows on the next animation frame.
  await page.waitForFunction((inputs, channels) => inputs.every((v, k) =>
    document.querySelector(`[data-input="${k}"]`).textContent === String(v))
    && channels.every((v, k) => document.querySelector(`[data-channel="${k}"]`).textContent === String(v)),
  { timeout: 5000 }, expected.inputs, expected.channels).catch(() => {});
  assert.deepEqual(await shownValues(page, 'input', 9), expected.inputs, `${what}: inputs`);
  assert.deepEqual(await shownValues(page, 'channel', 32), expected.channels, `${what}: channels`);
}

// A file in a folder of its own: choosing the same path again fires no change.
let mapFolders = 0;
async function chooseMap(page, name, text) {
  const folder = path.join(work, `map-${mapFolders++}`);
  mkdirSync(folder);
  const file = path.join(folder, name);
  writeFileSync(file, text);
  await (await page.$('#sbus-map')).uploadFile(file);
}

// Saves the device panel's capture; resolves to the file downloaded.
let saves = 0;
async function saveCapture(page) {
  const folder = path.join(work, `saved-${saves++}`);
  mkdirSync(folder);
  await allowDownloads(page, folder);
  await page.click('#save-capture');
  let name;
  await waitFor(() => (name = readdirSync(folder).find((file) => file.endsWith('.pcapng'))), 'the saved capture');
  return path.join(folder, name);
}

// A capture file chosen in #open-capture (or dropped on the device panel),
// in a folder of its own.
async function openCapture(page, name, bytes, { drop = false } = {}) {
  const folder = path.join(work, `open-${saves++}`);
  mkdirSync(folder);
  writeFileSync(path.join(folder, name), bytes);
  if (!drop) {
    await (await page.$('#open-capture')).uploadFile(path.join(folder, name));
    return folder;
  }
  await page.evaluate((file, base64) => {
    const dropped = new DataTransfer();
    dropped.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], file));
    document.querySelector('#device-panel')
      .dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
  }, name, Buffer.from(bytes).toString('base64'));
  return folder;
}

const captureNote = (page) => page.$eval('#capture-note', (e) => [e.textContent, e.classList.contains('problem')]);

// zelkolink-dump's rows of a capture (--json), and the lines it printed
// about it, run where the file is so that they name it as the page does.
function dumpCapture(folder, name) {
  const run = spawnSync(dump, ['--json', name], { cwd: folder, encoding: 'utf8' });
  return { rows: run.stdout.trim().split('\n').filter(Boolean).map((line) => JSON.parse(line)),
    lines: run.stderr.trim().split('\n').filter(Boolean).map((line) => line.replace(/^zelkolink-dump: /, '')) };
}

// Runs of equal flags in the frames written: [[flags, frames], ...].
function flagRuns(writes) {
  const runs = [];
  for (const { bytes } of writes) {
    if (runs.at(-1)?.[0] === bytes[23]) runs.at(-1)[1].push(bytes);
    else runs.push([bytes[23], [bytes]]);
  }
  return runs;
}

function checkSbusFrames(writes) {
  for (const { bytes } of writes) {
    assert.equal(bytes.length, 25);
    assert.equal(bytes[0], 0x0f);
  }
  const times = writes.map((write) => write.time);
  return Math.max(...times.slice(1).map((time, k) => time - times[k]));
}

const skip = !site || !bin ? 'set ZELKOLINK_WEB_SITE and ZELKOLINK_NATIVE_BIN' : undefined;

describe('the live page in chromium', { skip }, () => {
  before(async () => {
    mkdirSync(shots, { recursive: true });
    server = await serveFolder(site);
    browser = await launchBrowser();
  });

  after(async () => {
    endChildren();
    await browser?.close();
    await server?.close();
    for (const line of figures) console.log(line);
  });

  test('the device panel shows the simulator\'s values, through every status', async () => {
    const { page, errors, ports } = await openSite();
    assert.equal(await page.$eval('#support', (e) => e.hidden), true, 'no API is missing with the doubles');

    // A connection, then a disconnect: the request and the stop frame reach
    // the simulator, and the values shown are the record decoded offline.
    ports.simulator = await startDevice(200);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await sleep(1500);
    // Hold further bytes first: a chunk on its way when the read is
    // cancelled would count as delivered but never reach the parser.
    ports.gather = 1e9;
    await sleep(100);
    await page.click('#disconnect-port');
    await statusIs(page, 'disconnected');
    const first = ports.last();
    await stopDevice(ports.simulator);
    assert.deepEqual(first.options, { baudRate: 115200, dataBits: 8, parity: 'none', stopBits: 1 });
    assert.ok(first.closed, 'the port is closed after a disconnect');
    assert.deepEqual(ports.simulator.events().filter((e) => /^(request|stop)/.test(e)), ['request 01 00', 'stop']);
    assert.ok(Math.max(...first.chunks) > 255, `chunks above 255 bytes (largest ${Math.max(...first.chunks)})`);
    await checkValues(page, ports.simulator.record, first.delivered, 'after a disconnect');

    // Saved, the session is a capture: tshark through the dissector shows
    // the request and the stop frame going out, every read as the port
    // delivered it, and last values those shown; zelkolink-dump decodes the
    // same records from it as from the bytes the simulator sent.
    const saved = await saveCapture(page);
    assert.match(path.basename(saved), /^zelkolink-\d{4}-\d\d-\d\d-\d{6}\.pcapng$/);
    const packets = dissect(saved);
    assert.deepEqual([...new Set(packets.map((p) => `${p.name} | ${p.description}`))],
      ['Web Serial USB 1209:5a4c | 115200 8N1']);
    assert.deepEqual(packets.filter((p) => p.direction === 'out').map((p) => [packets.indexOf(p), p.commands]),
      [[0, [0xe5]], [packets.length - 1, [0xe4]]], 'the request first, the stop frame last, both outbound');
    assert.deepEqual(packets.filter((p) => p.direction === 'in').map((p) => p.length), first.chunks);
    assert.deepEqual([packets.flatMap((p) => p.inputs).slice(-9), packets.flatMap((p) => p.channels).slice(-32)],
      [await shownValues(page, 'input', 9), await shownValues(page, 'channel', 32)], 'tshark\'s last values');
    assert.deepEqual(offlineRecords(dump, saved).map(({ inputs, channels, offset }) => [offset, inputs, channels]),
      offlineRecords(dump, ports.simulator.record).filter((r) => r.offset <= first.delivered)
        .map(({ inputs, channels, offset }) => [offset, inputs, channels]));

    // A second connection with its own request bytes; the device goes away
    // (the port fires disconnect, the read never ends): lost, values stay.
    await page.$eval('#request', (e) => { e.value = '02,7f'; });
    ports.gather = 40;
    ports.simulator = await startDevice(300);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await sleep(800);
    const second = ports.last();
    ports.gather = 1e9; // hold further bytes, so the page has seen exactly `delivered`
    await sleep(100);
    await page.evaluate((id) => globalThis.__zlUnplug(id), second.id);
    await statusIs(page, 'lost');
    assert.ok(second.closed, 'the port is closed once lost');
    await stopDevice(ports.simulator);
    assert.deepEqual(ports.simulator.events().filter((e) => /^request/.test(e)), ['request 02 7F']);
    await checkValues(page, ports.simulator.record, second.delivered, 'after the device went away');

    // A third connection at 1,000 frames/s whose read fails: lost again.
    // The page's frame count and render rate are figures to report.
    ports.gather = 40;
    ports.simulator = await startDevice(1000);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await waitForFrames(page, ports);
    await page.$eval('[data-chart="ch5"]', (box) => box.click());
    const samples = [];
    for (let k = 0; k < 5; k++) {
      await sleep(1000);
      samples.push(await page.evaluate(() => [Number(document.querySelector('#fps').textContent),
        Number(document.querySelector('#render-fps').textContent)]));
    }
    await (await page.$('#device-panel')).screenshot({ path: path.join(shots, 'device-panel.png') });
    const third = ports.last();
    ports.finish(third, { lost: 'The device has been lost.' });
    await statusIs(page, 'lost');
    await stopDevice(ports.simulator);
    await checkValues(page, ports.simulator.record, third.delivered, 'at 1,000 frames/s, after a failed read');
    const mean = (k) => (samples.reduce((sum, s) => sum + s[k], 0) / samples.length).toFixed(1);
    figures.push(`web: at --rate 1000 the page counted ${mean(0)} frames/s and rendered ${mean(1)} frames/s `
      + `(means of ${samples.length} one-second readings; chunks up to ${Math.max(...third.chunks)} bytes)`);

    await page.screenshot({ path: path.join(shots, 'page.png'), fullPage: true });
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('a connection cut mid-frame, then a new one: its first frame decodes exactly, shown and sent', async () => {
    const { page, errors, ports } = await openSite();
    await page.select('#sbus-source', 'device');
    await page.click('#sbus-start');
    await statusIs(page, 'sending', '#sbus-status');
    // Joined, the cut frame would take the new frame's first 95 bytes as the
    // rest of its payload and find 0x5F where its end byte falls: a record
    // mixing both connections (as zelkolink_bridge_test's cut group).
    const old = kind2Frame(new Array(9).fill(1), new Array(32).fill(300));
    const newChannels = new Array(32).fill(600);
    newChannels[29] = 0x5f00;
    const fresh = kind2Frame(new Array(9).fill(2), newChannels);
    assert.equal(fresh[94], 0x5f);
    ports.script = [Uint8Array.from([...old, ...old.subarray(0, 5)])];
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await page.waitForFunction(() => document.querySelector('[data-channel="0"]').textContent === '300');
    await page.evaluate((id) => globalThis.__zlUnplug(id), ports.last().id);
    await statusIs(page, 'lost');
    const cutAt = ports.sbus.writes.length;
    ports.script = [fresh];
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await page.waitForFunction(() => document.querySelector('[data-input="0"]').textContent === '2', { timeout: 5000 })
      .catch(() => {});
    await sleep(200);
    assert.deepEqual(await shownValues(page, 'channel', 32), newChannels, 'the new connection\'s first record');
    assert.deepEqual(await shownValues(page, 'input', 9), new Array(9).fill(2));
    await page.click('#sbus-stop');
    await statusIs(page, 'stopped', '#sbus-status');
    // Frames after the cut carry the old record (still fresh, then held) or
    // the new one, never a mix of both.
    const after = new Set(ports.sbus.writes.slice(cutAt).map(({ bytes }) => JSON.stringify(sbusChannels(bytes))));
    const [held, sent] = [new Array(32).fill(300), newChannels].map((c) => JSON.stringify(standardSbus(c)));
    assert.deepEqual([...after].filter((channels) => channels !== held), [sent], 'SBUS after the cut');
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('SBUS from the device through a map: mapped records, then frame lost and failsafe, marked stale, and back', async () => {
    const { page, errors, ports } = await openSite();
    // As zelkolink_bridge_test's map group, with a failsafe value of its own.
    await chooseMap(page, 'map.json', JSON.stringify({ channels: {
      0: { source: 'constant 1500' }, 1: { source: 'channel 4', scale: 'raw', invert: true, trim: 5 },
      3: { failsafe: 172 } } }));
    await page.waitForFunction(() => document.querySelector('#sbus-map-status').textContent === 'using map.json');
    await page.select('#sbus-source', 'device');
    ports.simulator = await startDevice(200);
    await page.click('#connect-port');
    await statusIs(page, 'connected');
    await page.click('#sbus-start');
    await statusIs(page, 'sending', '#sbus-status');
    const sbus = ports.sbus;
    assert.equal(sbus.scope, 'worker', 'the worker opened the SBUS port');
    assert.match(await page.$eval('#sbus-writer', (e) => e.textContent), /written by a worker/);
    await stateIs(page, 'ok');
    await sleep(1000);

    ports.simulator.process.kill('SIGSTOP');
    await stateIs(page, 'lost');
    assert.equal(await page.$eval('#sbus-flags', (e) => e.textContent), '0x04');
    await page.waitForFunction(() => document.querySelectorAll('#device-panel .cell[data-stale]').length === 41,
      { timeout: 5000 });
    assert.match(await page.$eval('#stale-note', (e) => e.textContent), /^stale since \d\d:\d\d:\d\d\.\d{3} \(\d+ ms\)$/);
    await stateIs(page, 'failsafe');
    assert.equal(await page.$eval('#sbus-flags', (e) => e.textContent), '0x0C');
    await (await page.$('#sbus-panel')).screenshot({ path: path.join(shots, 'sbus-failsafe.png') });
    await (await page.$('#device-panel')).screenshot({ path: path.join(shots, 'device-stale.png') });
    await sleep(300);
    ports.simulator.process.kill('SIGCONT');
    await stateIs(page, 'ok');
    await page.waitForFunction(() => document.querySelectorAll('.cell[data-stale]').length === 0, { timeout: 5000 });
    assert.equal(await page.$eval('#stale-note', (e) => e.textContent), '');
    await sleep(300);
    await page.click('#sbus-stop');
    await statusIs(page, 'stopped', '#sbus-status');
    await stopDevice(ports.simulator);

    const largestGap = checkSbusFrames(sbus.writes);
    const runs = flagRuns(sbus.writes);
    // Flowing, lost, failsafe, flowing again; a loaded machine may starve the
    // page past the lost limit after that, but never into failsafe.
    const flags = runs.map(([runFlags]) => runFlags).filter((runFlags, k) => k > 0 || runFlags !== 0x08);
    assert.deepEqual(flags.slice(0, 4), [0, 4, 12, 0]);
    assert.ok(flags.slice(4).every((runFlags) => runFlags === 0 || runFlags === 4), `flags after recovery: ${flags}`);
    const failsafeRun = runs.findIndex(([runFlags]) => runFlags === 12);
    const mapped = (channels) => {
      const out = standardSbus(channels);
      out[0] = 1500;
      out[1] = Math.max(0, Math.min(2047, 1984 - Math.min(2047, channels[4]) + 5));
      return JSON.stringify(out);
    };
    const expected = new Set(offlineRecords(dump, ports.simulator.record).map((record) => mapped(record.channels)));
    const flowing = runs.filter(([flags]) => flags === 0).flatMap(([, frames]) => frames);
    const unmatched = flowing.filter((bytes) => !expected.has(JSON.stringify(sbusChannels(bytes))));
    assert.equal(unmatched.length, 0, `${unmatched.length} of ${flowing.length} flowing frames carry no mapped record`);
    const held = sbusChannels(runs[failsafeRun - 2][1].at(-1));
    const [, lost] = runs[failsafeRun - 1];
    const [, failsafe] = runs[failsafeRun];
    assert.ok(lost.every((bytes) => JSON.stringify(sbusChannels(bytes)) === JSON.stringify(held)), 'frame lost holds');
    const failsafeChannels = [...held];
    failsafeChannels[3] = 172;
    assert.ok(failsafe.every((bytes) => JSON.stringify(sbusChannels(bytes)) === JSON.stringify(failsafeChannels)),
      'failsafe takes the map\'s value and holds the rest');
    // SBUS never paused while the device was silent.
    assert.ok(largestGap < 500, `a gap of ${largestGap.toFixed(0)} ms between SBUS frames`);
    figures.push(`web: SBUS from the device: ${sbus.writes.length} frames (${runs.map(([f, fr]) => `${fr.length} × 0x${f.toString(16)}`).join(', ')}), `
      + `largest gap ${largestGap.toFixed(1)} ms; ${flowing.length} flowing frames all carry mapped records`);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('SBUS from a HID controller: a report maps onto the channels, and goes stale', async () => {
    const { page, errors, ports } = await openSite();
    await page.select('#sbus-source', 'hid');
    await page.click('#sbus-start');
    await statusIs(page, 'sending', '#sbus-status');
    await stateIs(page, 'waiting');
    await page.click('#connect-hid');
    await page.waitForFunction(() => document.querySelector('#hid-status').textContent.startsWith('connected'));
    // The case table's HID run: its first report, and the channels it maps to.
    const run = cases.frames.find((c) => c.source === 'hid');
    const report = [...Buffer.from(run.steps.find((step) => step.hid).hid, 'hex')];
    const expected = run.steps.find((step) => step.state === 'ok').channels;
    const send = () => page.evaluate((bytes) => globalThis.__zlHidReport(0, 0, bytes), report);
    await send();
    await stateIs(page, 'ok');
    await stateIs(page, 'lost');
    assert.equal(await staleCells(page, '#hid-panel'), 11);
    assert.match(await page.$eval('#hid-stale-note', (e) => e.textContent), /^stale since /);
    await send();
    await stateIs(page, 'ok');
    await page.waitForFunction(() => !document.querySelector('#hid-panel .cell[data-stale]'), { timeout: 5000 });
    // Limits of the panel: refused unless failsafe comes later, then in
    // force (300 ms after a report the link is still ok, frame lost only at 5 s).
    const setLimits = (lost, failsafe) => page.evaluate((l, f) => {
      for (const [id, value] of [['#sbus-lost-ms', l], ['#sbus-failsafe-ms', f]]) {
        const input = document.querySelector(id);
        input.value = String(value);
        input.dispatchEvent(new Event('change'));
      }
    }, lost, failsafe);
    await setLimits(5000, 5000);
    assert.equal(await page.$eval('#sbus-limits-status', (e) => (e.hidden ? '' : e.textContent)),
      'Failsafe (5000 ms) must come later than frame lost (5000 ms).');
    await setLimits(5000, 6000);
    assert.equal(await page.$eval('#sbus-limits-status', (e) => e.hidden), true);
    await send();
    await stateIs(page, 'ok');
    await sleep(300);
    assert.equal(await page.$eval('#sbus-state', (e) => e.dataset.state), 'ok', 'lost only after 5000 ms');
    await page.click('#sbus-stop');
    await statusIs(page, 'stopped', '#sbus-status');
    const runs = flagRuns(ports.sbus.writes);
    assert.deepEqual(runs.map(([flags]) => flags), [8, 0, 4, 0], 'waiting, ok, frame lost, ok');
    for (const bytes of runs[1][1].concat(runs[2][1], runs[3][1])) assert.deepEqual(sbusChannels(bytes), expected);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('a map file is checked as zelkolink-bridge checks it, its message on the panel', async () => {
    const { page, errors } = await openSite();
    const status = () => page.$eval('#sbus-map-status', (e) => [e.textContent, e.classList.contains('problem')]);
    for (const bad of [cases.bad_maps[0], cases.bad_maps.find((c) => c.text.includes('input 9'))]) {
      await chooseMap(page, 'map.json', bad.text);
      await page.waitForFunction((wanted) => document.querySelector('#sbus-map-status').textContent === wanted,
        { timeout: 5000 }, bad.error).catch(() => {});
      assert.deepEqual(await status(), [bad.error, true]);
    }
    await chooseMap(page, 'map.json', '{"channels": {"3": {"source": "constant 1811"}}}');
    await page.waitForFunction(() => document.querySelector('#sbus-map-status').textContent === 'using map.json');
    assert.deepEqual(await status(), ['using map.json', false]);
    assert.deepEqual(errors, []);
    await page.close();
  });

  for (const workerSerial of [true, false]) {
    const writer = workerSerial ? 'the worker' : 'the page, the worker having no Web Serial';
    test(`SBUS from the sliders at 100000/even/2, written by ${writer}, SBUS2 end bytes cycling`, async () => {
      const { page, errors, ports } = await openSite({ workerSerial });
      const sliders = [172, 992, 1811, 0, 2047, 1000, 1500, 500, 992, 992, 992, 992, 300, 1700, 1024, 7];
      await page.evaluate((values) => values.forEach((value, k) => {
        const slider = document.querySelector(`[data-sbus="${k}"]`);
        slider.value = String(value);
        slider.dispatchEvent(new Event('input'));
      }), sliders);
      await page.click('#sbus-start');
      await statusIs(page, 'sending', '#sbus-status');
      const port = ports.sbus;
      assert.deepEqual(port.options, { baudRate: 100000, dataBits: 8, parity: 'even', stopBits: 2 });
      assert.equal(port.scope, workerSerial ? 'worker' : 'page');
      assert.match(await page.$eval('#sbus-writer', (e) => e.textContent), workerSerial ? /^written by a worker$/
        : /^written by this page, not a worker: this browser has no Web Serial in workers$/);
      await sleep(workerSerial ? 2000 : 1000);
      await page.click('#sbus2');
      await sleep(500);
      const shown = await page.evaluate(() => ['#sbus-interval', '#sbus-p99', '#sbus-largest']
        .map((s) => document.querySelector(s).textContent));
      if (workerSerial) await (await page.$('#sbus-panel')).screenshot({ path: path.join(shots, 'sbus-panel.png') });
      // The page writes on the worker's deadlines: all on one 14 ms grid
      // from the first, never "14 ms after the last wake-up".
      const dues = await page.workers()[0].evaluate(() => globalThis.__zlDues);
      assert.equal(dues.length > 0, !workerSerial, `${dues.length} deadlines handed to the page`);
      for (const due of dues) assert.ok(Math.abs(((due - dues[0]) / 14) % 1) < 1e-6, `${due - dues[0]} ms after the first`);
      await page.click('#sbus-stop');
      await statusIs(page, 'stopped', '#sbus-status');
      assert.ok(port.closed, 'the port is closed after stop');
      const sent = port.writes.length;
      await sleep(100);
      assert.equal(port.writes.length, sent, 'nothing is written after stop');

      const largestGap = checkSbusFrames(port.writes);
      for (const { bytes } of port.writes) assert.deepEqual(sbusChannels(bytes), sliders);
      const ends = port.writes.map(({ bytes }) => bytes[24]);
      const v1 = ends.indexOf(0x04) === -1 ? ends.length : ends.findIndex((e) => e !== 0);
      assert.ok(v1 > 30, `SBUS frames end 00 before the switch (${v1} of them)`);
      assert.ok(ends.slice(0, v1).every((e) => e === 0));
      const v2 = ends.slice(v1);
      assert.ok(v2.length >= 8, `SBUS2 frames after the switch (${v2.length})`);
      const cycle = [0x04, 0x14, 0x24, 0x34];
      const step = cycle.indexOf(v2[0]);
      assert.notEqual(step, -1, `an SBUS2 end byte, not ${v2[0]}`);
      v2.forEach((end, k) => assert.equal(end, cycle[(step + k) % 4], `SBUS2 frame ${k}`));
      const times = port.writes.map((w) => w.time);
      figures.push(`web: SBUS from ${writer}: ${sent} frames; the page measured mean interval ${shown[0]}, `
        + `lateness p99 ${shown[1]}, largest ${shown[2]}; seen by the test: mean `
        + `${((times.at(-1) - times[0]) / (sent - 1)).toFixed(2)} ms, largest gap ${largestGap.toFixed(1)} ms`);
      assert.deepEqual(errors, []);
      await page.close();
    });
  }

  test('a capture plays as zelkolink-dump decodes it, moves to any position; a file that is no capture changes nothing', async () => {
    const { page, errors } = await openSite();
    const simulator = await startSimulator(sim, work, { rate: 100, seed: 5, name: 'capture' });
    const folder = workDir('capture');
    execFileSync(dump, ['--port', simulator.port, '--capture', path.join(folder, 'sim.pcapng'), '--count', '150'],
      { stdio: 'ignore' });
    await stopSimulator(simulator);
    const capture = readFileSync(path.join(folder, 'sim.pcapng'));
    const { rows } = dumpCapture(folder, 'sim.pcapng');
    await openCapture(page, 'sim.pcapng', capture);
    await statusIs(page, 'replay');
    // Paused part way, it has fed the reads up to where it stands, not more.
    await sleep(500);
    await page.click('#replay-play');
    await sleep(100); // the slider and the values are drawn on the next animation frame
    const paused = await page.$eval('#replay-position', (e) => Number(e.value));
    assert.ok(paused > 0 && paused < rows.at(-1).time * 1000, `paused at ${paused} ms`);
    const shownThen = JSON.stringify([await shownValues(page, 'input', 9), await shownValues(page, 'channel', 32)]);
    // The position shown is whole ms, dump times too: a read may lie a ms either side.
    const near = [-1, 1].map((ms) => rows.findLast((row) => row.time * 1000 <= paused + ms))
      .map((row) => JSON.stringify([row.inputs, row.channels]));
    assert.ok(near.includes(shownThen), `paused at ${paused} ms, the page shows ${shownThen}`);
    await page.click('#replay-play');
    await statusIs(page, 'replay finished');
    await checkShown(page, rows.at(-1), 'played to its end');
    assert.deepEqual(await captureNote(page), ['', false]);

    // Between two reads that brought records, the values are those of the
    // first: reads are fed one by one at their times, back (fresh readers)
    // and forward. Positions are ms, dump times seconds to the ms.
    const moves = rows.map((row, k) => [rows[k - 1]?.time, row.time])
      .filter(([before, time]) => before !== undefined && time - before >= 0.004)
      .map(([before, time]) => Math.round(((before + time) / 2) * 1000));
    assert.ok(moves.length >= 20, `${moves.length} positions between reads`);
    for (const position of [...moves.filter((_, k) => k % 4 === 1), moves[moves.length >> 1]]) {
      await page.$eval('#replay-position', (slider, value) => {
        slider.value = String(value);
        slider.dispatchEvent(new Event('change'));
      }, position);
      await checkShown(page, rows.findLast((row) => row.time * 1000 <= position), `at ${position} ms`);
    }
    await statusIs(page, 'replay');
    await (await page.$('#device-panel')).screenshot({ path: path.join(shots, 'device-replay.png') });

    // Files that are not captures, or broken ones, get one line naming them
    // (the one zelkolink-dump prints) and nothing else changes.
    const shown = () => page.evaluate(() => [...document.querySelectorAll(
      '[data-input], [data-channel], #status, #replay-time')].map((e) => e.textContent).join(' '));
    const before = await shown();
    const broken = Buffer.from(capture);
    let at = 0;
    for (let k = 0; k < 4; k++) at += broken.readUInt32LE(at + 4);
    broken.writeUInt32LE(13, at + 4);
    for (const [name, bytes, line] of [['notes.txt', 'not a capture\n', 'notes.txt: not a pcapng capture'],
      ['broken.pcapng', broken, null]]) {
      const where = await openCapture(page, name, bytes, { drop: name === 'broken.pcapng' });
      const expected = line ?? dumpCapture(where, name).lines[0];
      await page.waitForFunction((text) => document.querySelector('#capture-note').textContent === text,
        { timeout: 5000 }, expected).catch(() => {});
      assert.deepEqual(await captureNote(page), [expected, true]);
      await sleep(200);
      assert.equal(await shown(), before, `${name} changes nothing else`);
    }

    // A capture whose last block is cut short plays its complete blocks and
    // says where it ends.
    const cutFolder = await openCapture(page, 'cut.pcapng', capture.subarray(0, capture.length - 52 - 20));
    const cut = dumpCapture(cutFolder, 'cut.pcapng');
    await statusIs(page, 'replay finished');
    await checkShown(page, cut.rows.at(-1), 'a capture cut short');
    assert.match(cut.lines[0], /^cut\.pcapng: the capture ends inside a block at byte \d+; /);
    assert.deepEqual(await captureNote(page), [cut.lines[0], false]);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('the HID panel decodes both layouts and counts other reports', async () => {
    const { page, errors, hid } = await openSite();
    await page.click('#connect-hid');
    await page.waitForFunction(() => document.querySelector('#hid-status').textContent.startsWith('connected'));
    assert.ok(hid.requests[0].filters.some((f) => f.usagePage === 1 && f.usage === 5), 'gamepads are admitted');

    const [gameReport, compatibleReport] = cases.hid_reports.map((c) => [...Buffer.from(c.hid, 'hex')]);
    const hexFile = path.join(work, 'reports.hex');
    const hex = (bytes) => bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ');
    writeFileSync(hexFile, `${hex(gameReport)}\n${hex(compatibleReport)}\n`);
    const [game, compatible] = execFileSync(dump, ['--hid-file', hexFile, '--json'], { encoding: 'utf8' })
      .trim().split('\n').map((line) => JSON.parse(line));

    const send = (bytes, reportId = 0) => page.evaluate((r, b) => globalThis.__zlHidReport(0, r, b), reportId, bytes);
    const shown = async () => (await shownValues(page, 'hid', 11));
    const layoutIs = (layout) => page.waitForFunction((l) => document.querySelector('#hid-layout').textContent === l,
      { timeout: 5000 }, layout);

    assert.equal(await send(gameReport, 1), true);
    await layoutIs(game.layout);
    assert.equal(game.layout, 'game-controller');
    await page.waitForFunction((v) => document.querySelector('[data-hid="10"]').textContent === String(v),
      { timeout: 5000 }, game.values[10]);
    assert.deepEqual(await shown(), game.values);

    await send(compatibleReport);
    await layoutIs('compatible');
    assert.equal(compatible.layout, 'compatible');
    await page.waitForFunction((v) => document.querySelector('[data-hid="0"]').textContent === String(v),
      { timeout: 5000 }, compatible.values[0]);
    assert.deepEqual(await shown(), [...compatible.values, null, null]);

    // The table's other reports (another length, 23 bytes not starting FA,
    // the game-controller length plus its report ID byte): counted, and the
    // values stay.
    for (const other of cases.hid_reports.slice(2)) await send([...Buffer.from(other.hid, 'hex')]);
    await page.waitForFunction(() => document.querySelector('#hid-rejected').textContent === '3', { timeout: 5000 });
    assert.deepEqual(await shown(), [...compatible.values, null, null]);
    assert.equal(await page.$eval('#hid-layout', (e) => e.textContent), 'compatible');
    await send(gameReport);
    await layoutIs('game-controller');
    await (await page.$('#hid-panel')).screenshot({ path: path.join(shots, 'hid-panel.png') });
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
    await statusIs(page, 'replay finished');
    await checkValues(page, path.join(site, 'sample_port_stream.pcapng'), Infinity, 'the demo');
    assert.deepEqual(errors, []);
    await page.close();
  });

  test('once loaded, the page and its demo work offline, every file of the site cached', async () => {
    // A context of its own: the service worker of earlier pages has cached
    // what they fetched; here the cache holds what it installs, no more.
    const context = await browser.createBrowserContext();
    const { page, errors } = await openSiteIn(context, server.url);
    await page.evaluate(() => navigator.serviceWorker.ready);
    const cached = await page.evaluate(async () => {
      const cache = await caches.open((await caches.keys())[0]);
      return (await cache.keys()).map((request) => new URL(request.url).pathname.slice(1) || 'index.html');
    });
    const files = readdirSync(site).filter((name) => name !== 'sw.js');
    assert.deepEqual([...new Set(cached)].sort(), files.sort(), 'the service worker caches the whole site');
    await page.reload({ waitUntil: 'load' }); // now under the worker's control
    await page.evaluate(() => navigator.serviceWorker.ready);
    await page.setOfflineMode(true);
    await page.reload({ waitUntil: 'load' });
    await page.waitForSelector('body[data-ready="true"]', { timeout: 10_000 });
    await page.$eval('#demo', (button) => button.click());
    await statusIs(page, 'replay finished');
    await checkValues(page, path.join(site, 'sample_port_stream.pcapng'), Infinity, 'the demo offline');
    await page.setOfflineMode(false);
    assert.deepEqual(errors, []);
    await context.close();
  });
});
