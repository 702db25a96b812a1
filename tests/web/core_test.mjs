// The page's bridge module (bridge-core.wasm, through bridge-core.js and the
// page's own sbus-frames.js) held to the case table that bridge_logic_test
// holds zelkolink-bridge to: the same answers from both builds.
//   ZELKOLINK_WEB_SITE=build/wasm/web node --test tests/web/core_test.mjs
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const site = process.env.ZELKOLINK_WEB_SITE ?? path.join(here, '../../build/wasm/web');
const cases = JSON.parse(readFileSync(path.join(here, '..', 'bridge_cases.json'), 'utf8'));
const { BridgeCore } = await import(pathToFileURL(path.join(site, 'bridge-core.js')).href);
const { FrameSource } = await import(pathToFileURL(path.join(site, 'sbus-frames.js')).href);
const { sbusChannels } = await import('../tool_harness.mjs');
const bytes = (hex) => Uint8Array.from(Buffer.from(hex, 'hex'));

describe('bridge-core.wasm', () => {
  test('imports nothing; exports its functions and memory', () => {
    const module = new WebAssembly.Module(readFileSync(path.join(site, 'bridge-core.wasm')));
    assert.deepEqual(WebAssembly.Module.imports(module), []);
    const names = WebAssembly.Module.exports(module).map((e) => e.name);
    assert.ok(names.includes('memory') && names.every((name) => /^(zb_|memory$|__wasm_call_ctors$)/.test(name)), names.join(' '));
  });

  test('link health: times to state and flags', () => {
    const core = new BridgeCore();
    for (const [lost, failsafe, last, now, state, flags] of cases.health) {
      assert.equal(core.linkState(last, now, { lost, failsafe }), state, JSON.stringify([last, now]));
      assert.equal(core.flags(state), flags, state);
    }
  });

  test('mapping: map and values to channels', () => {
    for (const c of cases.mapping) {
      const core = new BridgeCore();
      assert.equal(core.useMap(c.source, c.map ? JSON.stringify(c.map) : null), '');
      core.values = { inputs: c.values.inputs, channels: c.values.channels, hid: c.values.hid, hidBits: c.values.hid_bits };
      assert.deepEqual(core.frameChannels('ok'), c.channels, c.name);
    }
  });

  test('port bytes: what each upload frame carried', () => {
    const core = new BridgeCore();
    for (const c of cases.port_bytes) {
      const carried = core.feedPort(bytes(c.port));
      assert.deepEqual(Object.keys(carried).filter((part) => carried[part]), c.carried, c.port);
    }
  });

  test('HID reports: the layout by length, values and widths', () => {
    const core = new BridgeCore();
    for (const c of cases.hid_reports) {
      const decoded = core.decodeHid(bytes(c.hid));
      assert.equal(decoded?.layout ?? '', c.layout, c.hid);
      if (c.values) assert.deepEqual([decoded.values, decoded.bits], [c.values, c.bits]);
    }
  });

  test('bad maps: the one-line messages of zelkolink-bridge', () => {
    const core = new BridgeCore();
    for (const c of cases.bad_maps) assert.equal(core.useMap('port', c.text, 'map.json'), c.error, c.text);
  });
});

// The runs through the page's own road: a panel's BridgeCore decodes, the
// FrameSource (what the SBUS worker runs) decides each frame.
describe('runs of frames through sbus-frames.js', () => {
  for (const c of cases.frames) {
    test(c.name, () => {
      const source = { port: 'device', hid: 'hid' }[c.source];
      const panel = new BridgeCore();
      const frames = new FrameSource();
      const [lost, failsafe] = c.limits;
      assert.equal(frames.configure({ source, map: c.map ? { text: JSON.stringify(c.map), name: 'map.json' } : null,
        limits: { lost, failsafe } }), '');
      for (const step of c.steps) {
        if (step.port) {
          const carried = panel.feedPort(bytes(step.port));
          if (carried.frame) frames.offer({ source, values: panel.values, carried, time: step.at });
        } else if (step.hid) {
          if (panel.decodeHid(bytes(step.hid))) frames.offer({ source, values: panel.values, time: step.at });
        } else {
          const frame = frames.frame(step.at, false);
          assert.deepEqual([frame.state, frame.flags, frame.bytes[23], sbusChannels(frame.bytes)],
            [step.state, step.flags, step.flags, step.channels], JSON.stringify(step));
        }
      }
    });
  }
});
