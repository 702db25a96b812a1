// The page: the support message first (it needs nothing), then the three
// panels, which load the zelkolink package; then the service worker that
// keeps the page working offline.
import { showSupport } from './support.js';

showSupport(document.getElementById('support'));

try {
  await Promise.all([import('./device.js'), import('./hid.js'), import('./sbus.js')]);
  document.body.dataset.ready = 'true';
} catch (error) {
  const problem = document.getElementById('load-error');
  problem.hidden = false;
  problem.textContent = `The page could not start: ${error.message}`;
  throw error;
}

if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('./sw.js').catch((error) => {
    console.warn(`Offline use is not available: ${error.message}`);
  });
}
