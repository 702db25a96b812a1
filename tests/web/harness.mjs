// What the browser tests share: the built site served over http on a free
// port, Debian's chromium driven by puppeteer-core (from the folder the
// build installed it into by its lockfile), and each page's console errors.
import { createReadStream, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
  '.wasm': 'application/wasm', '.webmanifest': 'application/manifest+json', '.svg': 'image/svg+xml',
  '.png': 'image/png', '.bin': 'application/octet-stream',
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
