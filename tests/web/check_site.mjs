// Serves an unpacked zelkolink-web zip and plays its demo in headless
// chromium: the values shown must be the sample capture's last record as
// zelkolink-dump decodes it, with no console error.
//   ZELKOLINK_WEB_MODULES=DIR ZELKOLINK_NATIVE_BIN=DIR node tests/web/check_site.mjs SITE
import path from 'node:path';
import { launchBrowser, openPage, serveFolder, shownValues } from './harness.mjs';
import { nativeTool, offlineRecords } from '../tool_harness.mjs';

const site = process.argv[2];
const dump = nativeTool('zelkolink-dump');
if (dump.skip) throw new Error(dump.skip);
const expected = offlineRecords(dump.tool, path.join(site, 'sample_port_stream.pcapng')).at(-1);

// One visit in a fresh browser; resolves to what went wrong, or '' when
// the demo showed the expected values.
async function visit(url) {
  const browser = await launchBrowser();
  let step = 'opening a page';
  let page;
  let errors = [];
  try {
    ({ page, errors } = await openPage(browser));
    // The waits are generous: they only keep a broken page from hanging the
    // run, and a loaded CI machine can take seconds to start chromium's parts.
    step = 'loading the page';
    await page.goto(url, { waitUntil: 'load', timeout: 60_000 });
    step = 'waiting for the page to be ready';
    // A page that cannot start says so in #load-error; that fails at once.
    await page.waitForSelector('body[data-ready="true"], #load-error:not([hidden])', { timeout: 60_000 });
    const loadError = await page.$eval('#load-error', (element) => (element.hidden ? '' : element.textContent));
    if (loadError) return `the page did not start: ${loadError}`;
    step = 'playing the demo';
    await page.click('#demo');
    await page.waitForFunction(() => document.querySelector('#status').textContent === 'replay finished',
      { timeout: 60_000 });
    // The values are drawn on the next animation frame after the last record.
    const wanted = JSON.stringify([expected.inputs, expected.channels]);
    let shown = '';
    for (let tries = 0; tries < 50 && shown !== wanted; ++tries) {
      if (tries) await new Promise((resolve) => setTimeout(resolve, 100));
      shown = JSON.stringify([await shownValues(page, 'input', 9), await shownValues(page, 'channel', 32)]);
    }
    if (shown !== wanted) return `the demo shows ${shown}, expected ${wanted}`;
    if (errors.length) return `console errors: ${errors.join('; ')}`;
    return '';
  } catch (error) {
    const seen = page ? await page.evaluate(() => [document.querySelector('#status')?.textContent,
      document.querySelector('#load-error')?.textContent]).catch(() => []) : [];
    let failure = `${step}: ${error.message}; status "${seen[0] ?? ''}", load error "${seen[1] ?? ''}"`;
    if (errors.length) failure += `; console errors: ${errors.join('; ')}`;
    return failure;
  } finally {
    await browser.close();
  }
}

// A wrong value fails at once. A wait that ran out gets one more visit in a
// new browser, so a stall of the machine is told from a page that never
// starts; the first failure is printed either way.
const server = await serveFolder(site);
let failure;
try {
  failure = await visit(server.url);
  if (failure.includes('exceeded')) {
    console.log(`note: ${site}: ${failure}; visiting once more`);
    failure = await visit(server.url);
  }
} finally {
  await server.close();
}
if (failure) {
  console.log(`FAIL: ${site}: ${failure}`);
  process.exit(1);
}
console.log(`ok: ${site} served over http plays its demo in chromium`);
