// Keeps the page working offline: every file of the site is cached at
// install; requests are answered from the cache at once and refreshed from
// the network behind it, so the next visit gets what the server has now.
const CACHE = 'zelkolink-web-v3';
const FILES = [
  './', 'index.html', 'style.css', 'manifest.webmanifest', 'icon.svg', 'icon-192.png', 'icon-512.png',
  'app.js', 'support.js', 'dom.js', 'panel-logic.js', 'records.js', 'chart.js', 'device.js', 'hid.js',
  'capture.js', 'replay.js',
  'sbus-cadence.js', 'sbus-frames.js', 'sbus-writer.js', 'sbus.js', 'zelkolink.js', 'zelkolink.wasm',
  'bridge-core.js', 'bridge-core.wasm', 'sample_port_stream.pcapng',
];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name !== CACHE).map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET' || new URL(event.request.url).origin !== self.location.origin) return;
  event.respondWith(caches.open(CACHE).then(async (cache) => {
    const cached = await cache.match(event.request, { ignoreSearch: true });
    const fresh = fetch(event.request).then((response) => {
      if (response.ok) cache.put(event.request, response.clone());
      return response;
    });
    if (cached) {
      event.waitUntil(fresh.catch(() => {}));
      return cached;
    }
    return fresh;
  }));
});
