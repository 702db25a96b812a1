// What the browser tests (and bench/web_sbus_bench.mjs) share: the built
// site served over http on a free port, Debian's chromium driven by
// puppeteer-core (from the folder the build installed it into by its
// lockfile), each page's console errors, and the test's side of the doubles:
// the simulator behind a raw relay, and every port the page is granted.
import { once } from 'node:events';
import { createReadStream, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { installDoubles, installWorkerRelay, recordDeadlines, removeApis } from './doubles.js';
import { startChild, startSimulator, stopSimulator } from '../tool_harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
  '.wasm': 'application/wasm', '.webmanifest': 'application/manifest+json', '.svg': 'image/svg+xml',
  '.png': 'image/png', '.bin': 'application/octet-stream', '.pcapng': 'application/octet-stream',
};

// Serves folder at http://127.0.0.1:<free port>/; resolves to { url, close }.
export async function serveFolder(folder) {
  const server = createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html');
    const file = path.join(folder, path.normalize(name).replace(/^(\.\.[/\\])+/, ''));
    let size;
    try {
      size = statSync(file).isFile() ? statSync(file).size : -1;
    } catch {
      size = -1;
    }
    if (size < 0) {
      response.writeHead(404).end('not found');
      return;
    }
    response.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream',
      'Content-Length': size, 'Cache-Control': 'no-cache',
    });
    createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}

// puppeteer-core from ZELKOLINK_WEB_MODULES (a folder holding node_modules).
export function loadPuppeteer() {
  const folder = process.env.ZELKOLINK_WEB_MODULES;
  if (!folder) throw new Error('ZELKOLINK_WEB_MODULES must name the folder where npm ci installed puppeteer-core');
  return createRequire(path.resolve(folder, 'package.json'))('puppeteer-core');
}

export async function launchBrowser() {
  const executablePath = process.env.ZELKOLINK_CHROMIUM || '/usr/bin/chromium';
  const args = ['--disable-gpu', '--no-first-run', '--disable-dev-shm-usage'];
  if (os.userInfo().uid === 0) args.push('--no-sandbox');
  return loadPuppeteer().launch({ executablePath, headless: true, args, defaultViewport: { width: 1280, height: 900 } });
}

// A new page that records its console errors and uncaught exceptions.
export async function openPage(browser) {
  const page = await browser.newPage();
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(`console: ${message.text()}`);
  });
  page.on('pageerror', (error) => errors.push(`uncaught: ${error.message}`));
  return { page, errors };
}

// The text of every element matching selector, in order.
export function texts(page, selector) {
  return page.$$eval(selector, (elements) => elements.map((element) => element.textContent));
}

// Numbers of the values shown for [data-<attribute>="k"], k = 0..count-1.
export async function shownValues(page, attribute, count) {
  return page.evaluate((name, n) => Array.from({ length: n }, (_, k) => {
    const text = document.querySelector(`[data-${name}="${k}"]`).textContent;
    return text === '' ? null : Number(text);
  }), attribute, count);
}

// What the page downloads from now on lands in folder, under its own name.
export async function allowDownloads(page, folder) {
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
}

// ------------------------------------------------------- devices and ports

// zelkolink-sim, opened raw by pty_relay.py; the relay's output is what the
// page's reads return, in chunks as large as arrived.
export async function startRelayedSimulator(sim, work, rate) {
  const simulator = await startSimulator(sim, work, { rate, seed: 11 });
  simulator.relay = startChild('python3', [path.join(here, 'pty_relay.py'), simulator.port],
    { stdio: ['pipe', 'pipe', 'inherit'] });
  return simulator;
}

export async function stopDevice(simulator) {
  simulator.relay.stdin.end();
  await once(simulator.relay, 'close');
  await stopSimulator(simulator);
}

// The test's side of every port the page is granted. A port opened while a
// simulator is set passes its bytes; one opened while a script is set reads
// the script's chunks; any other (SBUS) only collects writes.
export class Ports {
  constructor() {
    this.ports = [];
    this.opened = [];
    this.simulator = null;
    this.script = null;
    this.gather = 40; // ms a read waits for more bytes, so chunks run large
  }

  get handlers() {
    return {
      __zlSerialRequest: () => this.ports.push({ id: this.ports.length }) - 1,
      __zlSerialGranted: () => this.ports.map((port) => port.id),
      __zlSerialOpen: (id, options, scope) => this.open(id, options, scope),
      __zlSerialRead: (id) => this.read(id),
      __zlSerialWrite: (id, data) => this.write(id, data),
      __zlSerialCancel: (id) => this.finish(this.ports[id], { done: true }),
      __zlSerialClose: (id) => { this.ports[id].closed = true; },
    };
  }

  open(id, options, scope) {
    const port = Object.assign(this.ports[id], { options, scope, simulator: this.simulator, pending: [],
      waiting: null, delivered: 0, chunks: [], writes: [], closed: false, ended: null });
    this.opened.push(port);
    if (port.simulator) {
      port.simulator.relay.stdout.on('data', (data) => {
        port.pending.push(data);
        if (port.waiting && !port.timer) port.timer = setTimeout(() => this.flush(port), this.gather);
      });
    } else if (this.script) {
      port.pending = this.script.map((chunk) => Buffer.from(chunk));
      this.script = null;
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
    return this.opened.at(-1);
  }

  get sbus() {
    return this.opened.findLast((port) => port.options.baudRate === 100000);
  }
}

// The doubles in a worker: the port functions relayed over a CDP binding.
// Sent while the worker waits for the debugger, before puppeteer resumes it,
// so they are in place before its script runs.
function relayWorker(worker, handlers, serial) {
  const client = worker.client;
  client.on('Runtime.bindingCalled', async ({ name, payload }) => {
    if (name !== '__zlCall') return;
    const { id, name: handler, args } = JSON.parse(payload);
    let reply;
    try {
      reply = { value: await handlers[handler](...args) };
    } catch (error) {
      reply = { error: error.message };
    }
    client.send('Runtime.evaluate', { expression: `__zlReply(${id}, ${JSON.stringify(reply)})` }).catch(() => {});
  });
  client.send('Runtime.addBinding', { name: '__zlCall' }).catch(() => {});
  const install = `(${recordDeadlines})(); ${serial ? `(${installWorkerRelay})(); (${installDoubles})();` : `(${removeApis})();`}`;
  client.send('Runtime.evaluate', { expression: install }).catch(() => {});
}

// A page of the site at url with the doubles in place (or, without doubles,
// with neither API; with workerSerial false, with no Web Serial in workers).
export async function openSite(browser, url, { doubles = true, workerSerial = true } = {}) {
  const { page, errors } = await openPage(browser);
  const ports = new Ports();
  const hid = { requests: [] };
  const { handlers } = ports;
  for (const [name, handler] of Object.entries(handlers)) await page.exposeFunction(name, handler);
  await page.exposeFunction('__zlHidRequest', (options) => { hid.requests.push(options); });
  page.on('workercreated', (worker) => relayWorker(worker, handlers, doubles && workerSerial));
  await page.evaluateOnNewDocument(doubles ? installDoubles : removeApis);
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForSelector('body[data-ready="true"]');
  return { page, errors, ports, hid };
}
