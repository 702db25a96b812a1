// Serves an unpacked zelkolink-web zip and plays its demo in headless
// chromium: the values shown must be the sample capture's last record as
// zelkolink-dump decodes it, with no console error.
//   ZELKOLINK_WEB_MODULES=DIR ZELKOLINK_NATIVE_BIN=DIR node tests/web/check_site.mjs SITE
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { launchBrowser, openPage, serveFolder, shownValues } from './harness.mjs';

const site = process.argv[2];
const dump = path.join(process.env.ZELKOLINK_NATIVE_BIN ?? 'build/linux/bin', 'zelkolink-dump');
const expected = execFileSync(dump, ['--json', path.join(site, 'sample_port_stream.bin')], { encoding: 'utf8' })
  .trim().split('\n').map((line) => JSON.parse(line)).at(-1);

const server = await serveFolder(site);
const browser = await launchBrowser();
let failure = '';
try {
  const { page, errors } = await openPage(browser);
  await page.goto(server.url, { waitUntil: 'load' });
  await page.waitForSelector('body[data-ready="true"]', { timeout: 10_000 });
  await page.click('#demo');
  await page.waitForFunction(() => document.querySelector('#status').textContent === 'demo finished',
    { timeout: 10_000 });
  await new Promise((resolve) => setTimeout(resolve, 200)); // the next animation frame renders
  const shown = JSON.stringify([await shownValues(page, 'input', 9), await shownValues(page, 'channel', 32)]);
  const wanted = JSON.stringify([expected.inputs, expected.channels]);
  if (shown !== wanted) failure = `the demo shows ${shown}, expected ${wanted}`;
  else if (errors.length) failure = `console errors: ${errors.join('; ')}`;
} catch (error) {
  failure = error.message;
} finally {
  await browser.close();
  await server.close();
}
if (failure) {
  console.log(`FAIL: ${site}: ${failure}`);
  process.exit(1);
}
console.log(`ok: ${site} served over http plays its demo in chromium`);
