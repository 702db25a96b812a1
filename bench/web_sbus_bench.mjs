// The live page's SBUS figures in headless chromium, with the browser tests'
// doubles of Web Serial fed by zelkolink-sim: how late frames are sent
// (p99 and largest after their deadlines) while the device panel renders the
// simulator, and how old the values are when written (from the read that
// brought them to the write of the first frame that carries them, as
// bench/bridge_latency.py reports for zelkolink-bridge). The page measures
// both itself and shows them on the SBUS panel, whence they are read. Not a
// test; prints the figures.
//
//   ZELKOLINK_WEB_MODULES=build/wasm/web-test node bench/web_sbus_bench.mjs \
//     [--site build/wasm/web] [--seconds 10] [--rates 100,1000] [--writers worker,page] [--load 0] [--gather 16]
//
// --writers page runs the page's own writer (the worker given no Web Serial);
// --load N runs N busy loops (yes > /dev/null) beside the browser; --gather
// is how long a read of the device waits for more bytes, in ms: 16 is a USB
// serial adapter's usual latency timer, and every read costs the doubles a
// round trip through the DevTools protocol that a real port does not.
// ZELKOLINK_NATIVE_BIN names the linux build's bin folder (default build/linux/bin).
import { spawn } from 'node:child_process';
import { parseArgs } from 'node:util';
import { launchBrowser, openSite, serveFolder, startRelayedSimulator, stopDevice } from '../tests/web/harness.mjs';
import { endChildren, nativeTool, waitFor, workDir } from '../tests/tool_harness.mjs';

const { values: options } = parseArgs({
  options: {
    site: { type: 'string', default: 'build/wasm/web' },
    seconds: { type: 'string', default: '10' },
    rates: { type: 'string', default: '100,1000' },
    writers: { type: 'string', default: 'worker,page' },
    load: { type: 'string', default: '0' },
    gather: { type: 'string', default: '16' },
  },
});
const sim = nativeTool('zelkolink-sim');
if (sim.skip) throw new Error(sim.skip);
const work = workDir('web-bench');
const text = (page, selector) => page.$eval(selector, (e) => e.textContent).catch(() => '–');

// One run: the device panel connected to the simulator at rate, SBUS sent
// from the device (or from the sliders, on a page without a source) for
// seconds, and the panels' figures at the end.
async function measure(browser, url, rate, writer, seconds) {
  const { page, errors, ports } = await openSite(browser, url, { workerSerial: writer === 'worker' });
  ports.simulator = await startRelayedSimulator(sim.tool, work, rate);
  ports.gather = Number(options.gather);
  try {
    await page.click('#connect-port');
    await waitFor(() => text(page, '#status').then((status) => status === 'connected'), 'the device connected');
    if (await page.$('#sbus-source')) await page.select('#sbus-source', 'device');
    await page.click('#sbus-start');
    await waitFor(() => text(page, '#sbus-status').then((status) => status === 'sending'), 'SBUS sending');
    await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
    const figures = {};
    for (const name of ['interval', 'p99', 'largest', 'age', 'writer']) figures[name] = await text(page, `#sbus-${name}`);
    figures.frames = await text(page, '#fps');
    figures.render = await text(page, '#render-fps');
    await page.click('#sbus-stop');
    if (errors.length) figures.errors = errors.join('; ');
    return figures;
  } finally {
    await page.close();
    await stopDevice(ports.simulator);
  }
}

const loads = Array.from({ length: Number(options.load) }, () => spawn('yes', { stdio: 'ignore' }));
const server = await serveFolder(options.site);
const browser = await launchBrowser();
try {
  console.log(`site ${options.site}, ${options.seconds} s a run, reads gathered ${options.gather} ms, ${loads.length} busy loops beside it`);
  for (const writer of options.writers.split(',')) {
    for (const rate of options.rates.split(',').map(Number)) {
      const f = await measure(browser, server.url, rate, writer, Number(options.seconds))
        .catch((error) => ({ errors: `the run failed: ${error.message}` }));
      console.log(`${writer.padEnd(6)} sim ${String(rate).padStart(4)} frames/s (page counted ${f.frames}, `
        + `rendered ${f.render}/s): interval ${f.interval}, lateness p99 ${f.p99}, largest ${f.largest}; `
        + `value age ${f.age}${f.writer ? ` [${f.writer}]` : ''}${f.errors ? ` ERRORS ${f.errors}` : ''}`);
    }
  }
} finally {
  await browser.close();
  await server.close();
  for (const load of loads) load.kill();
  endChildren();
}
