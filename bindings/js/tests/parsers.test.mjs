// What PortParser adds to the library's parser: reads of any length handed
// over in pieces, a parser per instance, and records equal to the native
// build's on the same captures.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { concat, kind2Frame, nativeTool, random, sourceDir, zelkolink } from './harness.mjs';

const { PortParser } = zelkolink;

// Frame n of a device: inputs and channels that name the device and n.
function deviceFrame(device, n) {
  const inputs = Array.from({ length: 9 }, (_, k) => (device << 12) | ((n + k) & 0xfff));
  const channels = Array.from({ length: 32 }, (_, k) => (device << 12) | ((n * 3 + k) & 0xfff));
  return { inputs, channels, bytes: kind2Frame(inputs, channels) };
}

// A parser whose instance records the length of every parse_port_data call.
function watchedParser() {
  const lengths = [];
  const Instance = WebAssembly.Instance;
  WebAssembly.Instance = class extends Instance {
    get exports() {
      const { parse_port_data: parse, ...rest } = super.exports;
      return { ...rest, parse_port_data: (...args) => { lengths.push(args[1]); return parse(...args); } };
    }
  };
  try {
    return { parser: new PortParser(), lengths };
  } finally {
    WebAssembly.Instance = Instance;
  }
}

describe('reads of any length', () => {
  test('reads of 300 and 40,000 bytes reach the library in pieces of 255 and give the last frame', () => {
    // 400 frames of 100 bytes: frames straddle every piece and the package's
    // copy area.
    const frames = Array.from({ length: 400 }, (_, n) => deviceFrame(1, n));
    const stream = concat(frames.map((f) => f.bytes));
    const { parser, lengths } = watchedParser();
    assert.equal(parser.feed(stream.subarray(0, 99)), false);
    parser.feed(stream.subarray(99, 399)); // just over one piece
    assert.equal(parser.feed(stream.subarray(399)), true);
    assert.deepEqual(parser.inputs, frames[399].inputs);
    assert.deepEqual(parser.channels, frames[399].channels);
    assert.equal(lengths.reduce((sum, length) => sum + length, 0), stream.length);
    assert.deepEqual(lengths.slice(0, 4), [99, 255, 45, 255]);
    assert.ok(lengths.every((length) => length >= 1 && length <= 255), String(lengths));
  });
});

describe('independent parsers', () => {
  test('two parsers fed interleaved reads each decode their own device', () => {
    const next = random(15);
    const devices = [1, 2].map((device) => {
      const frames = Array.from({ length: 60 }, (_, n) => deviceFrame(device, n));
      return { parser: new PortParser(), frames, stream: concat(frames.map((f) => f.bytes)), at: 0, seen: 0 };
    });
    while (devices.some((d) => d.at < d.stream.length)) {
      for (const device of devices) {
        const end = Math.min(device.stream.length, device.at + 1 + next(300));
        const completed = device.parser.feed(device.stream.subarray(device.at, end));
        const done = Math.floor(end / 100);
        assert.equal(completed, done > Math.floor(device.at / 100));
        if (completed) {
          assert.deepEqual(device.parser.inputs, device.frames[done - 1].inputs);
          assert.deepEqual(device.parser.channels, device.frames[done - 1].channels);
          device.seen++;
        }
        device.at = end;
      }
    }
    assert.ok(devices.every((d) => d.seen > 10));
  });
});

// The native tool's records, one call per byte: {offset, inputs, channels}.
function nativeRecords(dump, capture) {
  const out = execFileSync(dump, ['--chunk', '1', '--json', capture], { encoding: 'utf8', maxBuffer: 1 << 28 });
  return out.trim().split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

const captures = [
  path.join(sourceDir, 'examples/sample_port_stream.bin'),
  ...readdirSync(path.join(sourceDir, 'fuzz/corpus/port_stream')).map((name) => path.join(sourceDir, 'fuzz/corpus/port_stream', name)),
];

describe('the same records as the native build', () => {
  const { tool, skip } = nativeTool('zelkolink-dump');
  for (const capture of captures) {
    test(path.relative(sourceDir, capture), { skip }, () => {
      const bytes = readFileSync(capture);
      const expected = nativeRecords(tool, capture);
      for (const seed of [1, 2, 3]) {
        // After a read that completed a frame, the package holds what the
        // native parser held after the last byte of that read, and a read
        // completes a frame exactly when a native record falls within it.
        const next = random(seed);
        const parser = new PortParser();
        let at = 0;
        let matched = 0;
        while (at < bytes.length) {
          const end = Math.min(bytes.length, at + 1 + next(seed === 3 ? 1000 : 256));
          const completed = parser.feed(bytes.subarray(at, end));
          let last = matched;
          while (last < expected.length && expected[last].offset <= end) last++;
          assert.equal(completed, last > matched, `read ${at}..${end}`);
          if (completed) {
            assert.deepEqual({ offset: end, inputs: parser.inputs, channels: parser.channels },
              { ...expected[last - 1], offset: end }, `read ${at}..${end}`);
          }
          matched = last;
          at = end;
        }
        assert.equal(matched, expected.length);
      }
    });
  }
});
