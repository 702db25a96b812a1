// The page's decisions as plain functions, with made-up bytes and times and
// no sleeping: the SBUS deadlines, the frame count, the rates and the scale,
// what a capture keeps.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { Cadence, nextDeadline } from '../../web/sbus-cadence.js';
import {
  RateMeter, Recording, captureFileName, feedCounting, formatAge, parseRequest, scaleFor, staleNote,
} from '../../web/panel-logic.js';

describe('SBUS deadlines', () => {
  test('slots are due on the clock, never a period after a late send', () => {
    assert.equal(nextDeadline(1000, 14, 1000), 1014);
    assert.equal(nextDeadline(1000, 14, 1014.5, 1014), 1028); // 0.5 ms late: the next slot stays on time
    assert.equal(nextDeadline(1000, 14, 1100, 1014), 1112); // 72 ms late: missed slots are skipped, not sent in a burst
  });

  test('a timer that wakes early never sends the same slot twice', () => {
    assert.equal(nextDeadline(1000, 14, 1027.9, 1028), 1042);
    assert.equal(nextDeadline(1000, 14, 1013, 1014), 1028);
  });

  test('the cadence figures: mean interval, p99 and the latest send', () => {
    const cadence = new Cadence();
    assert.equal(cadence.meanInterval, null);
    assert.equal(cadence.p99Lateness, null);
    [[1014.2, 1014], [1028.1, 1028], [1045, 1042], [1056.3, 1056]].forEach(([sent, due]) => cadence.record(sent, due));
    assert.ok(Math.abs(cadence.meanInterval - 14.0333) < 1e-3);
    assert.equal(cadence.maxLateness, 3);
    // 980 sends 0.2 ms late, 19 at 1.52 ms, one at 40 ms: p99 is the upper
    // edge of the 1.50..1.55 ms bin, not the largest.
    const many = new Cadence();
    for (let k = 0; k < 1000; k++) many.record(14 * k + (k < 980 ? 0.2 : k < 999 ? 1.52 : 40), 14 * k);
    assert.ok(Math.abs(many.p99Lateness - 1.55) < 1e-9, many.p99Lateness);
    assert.equal(many.maxLateness, 40);
  });
});

describe('the device panel\'s counts', () => {
  // A parser that completes a frame on every end byte it is fed.
  const counter = () => ({ calls: [], feed(bytes) { this.calls.push([...bytes]); return bytes.includes(0x5f); } });

  test('a chunk is cut after each end byte, so every frame in it counts', () => {
    const parser = counter();
    const chunk = Uint8Array.from([0xfa, 1, 0x5f, 0xfa, 2, 0x5f, 0xfa, 3, 0x5f, 0xfa, 4]);
    assert.equal(feedCounting(parser, chunk), 3);
    assert.deepEqual(parser.calls, [[0xfa, 1, 0x5f], [0xfa, 2, 0x5f], [0xfa, 3, 0x5f], [0xfa, 4]]);
    assert.equal(feedCounting(counter(), new Uint8Array(0)), 0);
  });

  test('rates count the last second only', () => {
    const meter = new RateMeter(1000);
    meter.add(0, 100);
    meter.add(500, 50);
    assert.equal(meter.rate(900), 150);
    assert.equal(meter.rate(1200), 50);
    assert.equal(meter.rate(2000), 0);
  });

  test('the scale grows to the smallest 2^k - 1 above the largest value', () => {
    assert.deepEqual([0, 255, 256, 2047, 2048, 65535].map(scaleFor), [255, 255, 511, 2047, 4095, 65535]);
  });

  test('the request text and the time since the last frame', () => {
    assert.deepEqual(parseRequest('01,00'), [1, 0]);
    assert.deepEqual(parseRequest(' 0x2 ff '), [2, 255]);
    for (const bad of ['', '01', '01,00,02', '1ff,0', 'g1,00']) assert.equal(parseRequest(bad), null, bad);
    assert.equal(formatAge(null, 5), 'never');
    assert.equal(formatAge(1000, 1012.4), '12 ms');
    assert.equal(formatAge(1000, 4460), '3.5 s');
  });

  test('values go stale after 100 ms without a fresh record, and say since when', () => {
    const fresh = new Date(2026, 0, 2, 9, 5, 7, 42).getTime();
    assert.equal(staleNote(null, fresh), '');
    assert.equal(staleNote(fresh, fresh + 99.9), '');
    assert.equal(staleNote(fresh, fresh + 100), 'stale since 09:05:07.042 (100 ms)');
    assert.equal(staleNote(fresh, fresh + 2500), 'stale since 09:05:07.042 (2.5 s)');
  });

  test('a connection\'s capture keeps its request and its last ten minutes, in order, and is named by the local time', () => {
    const recording = new Recording('Web Serial port', '115200 8N1');
    for (let second = 0; second <= 3000; second++) recording.add(second * 1000, second % 7 === 0, Uint8Array.of(second));
    const kept = recording.blocks;
    assert.equal(recording.size, 602);
    assert.deepEqual(kept.map((block) => block.time), [0, ...Array.from({ length: 601 }, (_, k) => (2400 + k) * 1000)]);
    assert.deepEqual(kept.slice(0, 9).map((block) => block.outbound), [true, false, true, false, false, false, false, false, false]);
    assert.equal(captureFileName(new Date(2026, 11, 10, 3, 15, 2)), 'zelkolink-2026-12-10-031502.pcapng');
  });
});
