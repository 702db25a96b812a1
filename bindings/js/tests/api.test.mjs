// Marshalling and argument checks of every export: what goes in, what comes
// out, and the errors thrown before the library is called.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { frame, zelkolink } from './harness.mjs';

const {
  requestFrame, stopFrame, PortParser, decodeGameController, decodeCompatible, stdToSbus, encodeSbus,
} = zelkolink;

const compatible = new Uint8Array(23);
compatible.set([0xfa, 0, 0, 0, 0x34, 0x12]);
compatible[22] = 0x99;
const controller = new Uint8Array(19);
controller.set([0x21, 0x43, 0x65], 6);
controller[16] = 0xab;
const inputsFrame = frame(0xa5, [0, 0, 1, 1, 1, 2, 1, 3, 1, 4, 1, 5, 1, 6, 1, 7, 1, 8, 1]);

describe('frames and reports', () => {
  test('command frames, fresh each call', () => {
    assert.deepEqual(requestFrame(0x01, 0xfa), Uint8Array.from([0xfa, 0xe5, 2, 0, 0x01, 0xfa, 0x5f]));
    assert.deepEqual(stopFrame(), Uint8Array.from([0xfa, 0xe4, 0, 0, 0x5f]));
    const first = requestFrame(1, 2);
    first.fill(0);
    assert.deepEqual(requestFrame(1, 2), Uint8Array.from([0xfa, 0xe5, 2, 0, 1, 2, 0x5f]));
  });

  test('reports as Uint8Array, ArrayBuffer, Buffer or numbers give the same values', () => {
    for (const report of [controller, controller.slice().buffer, Buffer.from(controller), Array.from(controller)]) {
      const values = decodeGameController(report);
      assert.ok(Array.isArray(values));
      assert.deepEqual(values, [0, 0, 0, 0x321, 0x654, 0, 0, 0, 0, 0, 0xab]);
    }
    for (const report of [compatible, compatible.slice().buffer, Array.from(compatible)]) {
      assert.deepEqual(decodeCompatible(report), [0x1234, 0, 0, 0, 0, 0, 0, 0, 0]);
    }
  });

  test('a report that is only the start of a larger buffer is read where it starts', () => {
    const large = new Uint8Array(40);
    large.set(compatible, 10);
    assert.equal(decodeCompatible(large.subarray(10, 33))[0], 0x1234);
  });
});

describe('SBUS', () => {
  test('standard values scaled, from numbers or a Uint16Array', () => {
    const values = [0, 100, 600, 1200, 1201, 65535, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1];
    const expected = [0, 170, 1023, 2047, 2047, 2047, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1];
    assert.deepEqual(stdToSbus(values), expected);
    assert.deepEqual(stdToSbus(Uint16Array.from(values)), expected);
  });

  test('frames start 0F; values above 2047 are packed as 2047', () => {
    const full = encodeSbus(new Array(16).fill(2047));
    assert.equal(full.length, 25);
    assert.equal(full[0], 0x0f);
    assert.ok(full.subarray(1, 23).every((byte) => byte === 0xff));
    assert.deepEqual(full.subarray(23), Uint8Array.from([0, 0]));
    assert.deepEqual(encodeSbus(new Uint16Array(16).fill(65535)), full);
    const first = Array.from({ length: 16 }, (_, k) => (k === 0 ? 0x7ff : 0));
    assert.deepEqual(encodeSbus(first).subarray(0, 4), Uint8Array.from([0x0f, 0xff, 0x07, 0]));
  });

  test('only sbus2 frames move the SBUS2 cycle, and parsers do not touch it', () => {
    const channels = new Array(16).fill(1024);
    const ends = [];
    for (let k = 0; k < 5; k++) {
      ends.push(encodeSbus(channels, { sbus2: true })[24]);
      encodeSbus(channels);
      encodeSbus(channels, { sbus2: false });
      new PortParser().feed(inputsFrame);
    }
    assert.deepEqual(ends, [0x04, 0x14, 0x24, 0x34, 0x04]);
  });
});

describe('PortParser', () => {
  test('feed returns exactly true or false; values are fresh arrays', () => {
    const parser = new PortParser();
    assert.deepEqual(parser.inputs, new Array(9).fill(0));
    assert.deepEqual(parser.channels, new Array(32).fill(0));
    assert.equal(parser.feed(inputsFrame.subarray(0, 7)), false);
    assert.equal(parser.feed(inputsFrame.subarray(7)), true);
    assert.equal(parser.feed([]), false);
    const inputs = parser.inputs;
    assert.deepEqual(inputs, [0x100, 0x101, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107, 0x108]);
    inputs[0] = 7;
    assert.equal(parser.inputs[0], 0x100);
    assert.notEqual(parser.channels, parser.channels);
  });

  test('a rejected feed leaves the pending frame as it was', () => {
    const parser = new PortParser();
    parser.feed(Array.from(inputsFrame.subarray(0, 10)));
    assert.throws(() => parser.feed([...inputsFrame.subarray(10, 20), 256]), RangeError);
    assert.throws(() => parser.feed([...inputsFrame.subarray(10, 20), '1']), TypeError);
    assert.equal(parser.feed(inputsFrame.subarray(10).buffer.slice(inputsFrame.byteOffset + 10)), true);
    assert.equal(parser.inputs[8], 0x108);
  });
});

describe('errors name what was expected', () => {
  const sixteen = new Array(16).fill(0);
  const cases = [
    [() => requestFrame(256, 0), RangeError, /b0 must be a byte, 0\.\.255, got 256/],
    [() => requestFrame(0, -1), RangeError, /b1 must be a byte/],
    [() => requestFrame(0, 1.5), RangeError, /b1 must be a byte, 0\.\.255, got 1\.5/],
    [() => requestFrame('1', 0), TypeError, /b0 must be a number, 0\.\.255, got string/],
    [() => requestFrame(1), TypeError, /b1 must be a number.*got undefined/],
    [() => new PortParser().feed('FA A5'), TypeError, /must be a Uint8Array, an ArrayBuffer or an array of numbers, got string/],
    [() => new PortParser().feed(new Uint16Array(4)), TypeError, /got Uint16Array/],
    [() => new PortParser().feed(null), TypeError, /got null/],
    [() => new PortParser().feed([0, 1, NaN]), RangeError, /bytes\[2\] must be an integer, 0\.\.255, got NaN/],
    [() => decodeGameController(controller.subarray(1)), RangeError, /a game-controller report is 19 bytes long, got 18/],
    [() => decodeGameController({ length: 19 }), TypeError, /game-controller report must be a Uint8Array.*got Object/],
    [() => decodeCompatible(new Uint8Array(24)), RangeError, /a compatible-device report is 23 bytes long, got 24/],
    [() => decodeCompatible(new Uint8Array(23)), RangeError, /starts with 0xFA, got 0x00/],
    [() => decodeCompatible([...compatible.subarray(0, 22), 300]), RangeError, /report\[22\] must be an integer, 0\.\.255, got 300/],
    [() => stdToSbus(sixteen.slice(1)), RangeError, /values16 must be 16 values, got 15/],
    [() => stdToSbus([...sixteen.slice(1), 65536]), RangeError, /values16\[15\] must be an integer, 0\.\.65535, got 65536/],
    [() => stdToSbus(new Uint8Array(16)), TypeError, /values16 must be a Uint16Array or an array of numbers, got Uint8Array/],
    [() => encodeSbus(sixteen, { sbus2: 1 }), TypeError, /options\.sbus2 must be a boolean, got number/],
    [() => encodeSbus(sixteen, true), TypeError, /options must be an object, got boolean/],
    [() => encodeSbus([...sixteen.slice(1), -1]), RangeError, /channels16\[15\] must be an integer, 0\.\.65535, got -1/],
  ];
  for (const [call, type, message] of cases) {
    test(String(call).replace(/^\(\) => /, ''), () => {
      assert.throws(call, (error) => error instanceof type && message.test(error.message));
    });
  }
});
