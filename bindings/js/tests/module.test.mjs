// The package as it ships: the module's imports, exports and size, the
// package manifest, and loading the module beside the script, from a file
// or over HTTP as a browser does.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, statSync } from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { promisify } from 'node:util';
import { describe, test } from 'node:test';
import { packageDir } from './harness.mjs';

const run = promisify(execFile);
const wasmPath = path.join(packageDir, 'zelkolink.wasm');
const EXPORTS = [
  'request_upload_port_data', 'stop_upload_port_data', 'parse_port_data',
  'parse_hid_game_controller_device', 'parse_hid_compatible_device',
  'convert_std_sbus_data', 'encode_sbus_data_v1', 'encode_sbus_data_v2',
];

describe('zelkolink.wasm', () => {
  const module = new WebAssembly.Module(readFileSync(wasmPath));

  test('imports nothing; exports the eight functions, memory and __heap_base', () => {
    assert.deepEqual(WebAssembly.Module.imports(module), []);
    const exports = Object.fromEntries(WebAssembly.Module.exports(module).map((e) => [e.name, e.kind]));
    assert.deepEqual(exports, {
      ...Object.fromEntries(EXPORTS.map((name) => [name, 'function'])), memory: 'memory', __heap_base: 'global',
    });
  });

  test('at most 8 KB, with no names or other custom sections', () => {
    assert.ok(statSync(wasmPath).size <= 8192, `${statSync(wasmPath).size} bytes`);
    // Section ids after the 8-byte header: 0 is a custom section.
    const bytes = readFileSync(wasmPath);
    for (let at = 8; at < bytes.length;) {
      const id = bytes[at++];
      let size = 0;
      for (let shift = 0; ; shift += 7) { const b = bytes[at++]; size |= (b & 0x7f) << shift; if (b < 0x80) break; }
      assert.notEqual(id, 0, 'custom section');
      at += size;
    }
  });

  test('parse results are i32 0 or 1', () => {
    const { exports } = new WebAssembly.Instance(module, {});
    const base = exports.__heap_base.value;
    const heap = new Uint8Array(exports.memory.buffer);
    heap.set([0xfa, 0, 0, 0, 0x34, 0x12], base);
    heap.fill(0, base + 6, base + 23);
    assert.equal(exports.parse_hid_compatible_device(base + 64, base, 23), 1);
    assert.equal(exports.parse_hid_compatible_device(base + 64, base, 22), 0);
  });
});

describe('package.json', () => {
  const manifest = JSON.parse(readFileSync(path.join(packageDir, 'package.json'), 'utf8'));

  test('the project version, ESM, declarations in types and the exports map, no dependencies', () => {
    assert.equal(manifest.version, process.env.ZELKOLINK_VERSION ?? manifest.version);
    assert.equal(manifest.type, 'module');
    assert.equal(manifest.types, './zelkolink.d.ts');
    assert.deepEqual(manifest.exports['.'], { types: './zelkolink.d.ts', default: './zelkolink.js' });
    assert.equal(manifest.dependencies, undefined);
    for (const file of manifest.files) assert.ok(statSync(path.join(packageDir, file)).isFile(), file);
    assert.ok(manifest.files.includes('zelkolink.wasm'));
  });
});

// Imports the package from url in a child Node.js, which may load http: URLs
// of this machine, and prints the request frame.
function importIn(url) {
  const script = `const m = await import(${JSON.stringify(url)}); console.log(Array.from(m.requestFrame(1, 2)).join(' '))`;
  return run(process.execPath, ['--experimental-network-imports', '--no-warnings', '--input-type=module', '-e', script]);
}

describe('loading', () => {
  test('over HTTP, the way a browser fetches it; a missing module names its URL', async () => {
    let serveWasm = true;
    const server = http.createServer((request, response) => {
      const name = path.basename(request.url);
      if (!['zelkolink.js', 'zelkolink.wasm'].includes(name) || (name.endsWith('.wasm') && !serveWasm)) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'content-type': name.endsWith('.js') ? 'text/javascript' : 'application/wasm' });
      response.end(readFileSync(path.join(packageDir, name)));
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    try {
      const url = `http://127.0.0.1:${server.address().port}/pkg/zelkolink.js`;
      assert.equal((await importIn(url)).stdout.trim(), '250 229 2 0 1 2 95');
      serveWasm = false;
      await assert.rejects(importIn(url),
        (error) => error.stderr.includes(`zelkolink: cannot load ${url.replace('.js', '.wasm')}: HTTP 404`));
    } finally {
      server.close();
    }
  });

  test('from a folder without the module: the error names the file', async () => {
    const folder = mkdtempSync(path.join(os.tmpdir(), 'zelkolink-js-'));
    copyFileSync(path.join(packageDir, 'zelkolink.js'), path.join(folder, 'zelkolink.js'));
    const url = pathToFileURL(path.join(folder, 'zelkolink.js')).href;
    await assert.rejects(importIn(url),
      (error) => error.stderr.includes(`zelkolink: cannot load ${url.replace('.js', '.wasm')}: ENOENT`));
  });
});
