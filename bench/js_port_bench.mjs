#!/usr/bin/env node
// The npm package's PortParser.feed against the native library, on the same
// bytes in one run (not a test). The native side is zelkolink_bench's
// parser benchmarks; the streams here are generated exactly as that program
// generates them (the same mt19937 sequences), so both parse the same 64 KiB.
//
//   node bench/js_port_bench.mjs [PACKAGE_DIR [NATIVE_BIN_DIR]]
//   (defaults: build/wasm/js-package and build/linux/bin)
//
// Rows: kind-2 upload frames fed 255 bytes a call, natively and through the
// package (the copy into WebAssembly memory included); the same 64 KiB in one
// feed call; noise without 0xFA through the package against a plain JS
// indexOf(0xFA) over the same 255-byte pieces. Medians of 9 repetitions of at
// least 0.5 s each, decimal GB/s.
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const packageDir = path.resolve(process.argv[2] ?? path.join(root, 'build/wasm/js-package'));
const nativeBin = path.resolve(process.argv[3] ?? path.join(root, 'build/linux/bin'));
const { PortParser } = await import(pathToFileURL(path.join(packageDir, 'zelkolink.js')).href);

const STREAM_BYTES = 64 * 1024;
const REPETITIONS = 9;
const MIN_SECONDS = 0.5;

// std::mt19937, as the native benchmark seeds and draws it.
function mt19937(seed) {
  const state = new Uint32Array(624);
  state[0] = seed >>> 0;
  for (let k = 1; k < 624; k++) {
    const previous = state[k - 1] ^ (state[k - 1] >>> 30);
    state[k] = (Math.imul(1812433253, previous) + k) >>> 0;
  }
  let index = 624;
  return () => {
    if (index >= 624) {
      for (let k = 0; k < 624; k++) {
        const y = (state[k] & 0x80000000) | (state[(k + 1) % 624] & 0x7fffffff);
        state[k] = state[(k + 397) % 624] ^ (y >>> 1) ^ (y & 1 ? 0x9908b0df : 0);
      }
      index = 0;
    }
    let y = state[index++];
    y ^= y >>> 11;
    y ^= (y << 7) & 0x9d2c5680;
    y ^= (y << 15) & 0xefc60000;
    y ^= y >>> 18;
    return y >>> 0;
  };
}

function frameStream(kind) {
  const payload = kind === 0 ? 19 : kind === 1 ? 65 : 95;
  const next = mt19937(kind);
  const bytes = [];
  while (bytes.length + payload + 5 <= STREAM_BYTES) {
    bytes.push(0xfa, 0xa5, payload, 0, kind);
    for (let k = 1; k < payload; k++) bytes.push(next() & 0xff);
    bytes.push(0x5f);
  }
  return Uint8Array.from(bytes);
}

function noiseStream() {
  const next = mt19937(99);
  const bytes = new Uint8Array(STREAM_BYTES);
  for (let k = 0; k < bytes.length; k++) {
    let b;
    do b = next() & 0xff; while (b === 0xfa);
    bytes[k] = b;
  }
  return bytes;
}

// A caller's reads: the stream as 255-byte pieces, each its own view.
function pieces(stream, size) {
  const out = [];
  for (let at = 0; at < stream.length; at += size) out.push(stream.subarray(at, at + size));
  return out;
}

// Median GB/s of `pass`, which handles `bytes` bytes a call.
function measure(bytes, pass) {
  for (let k = 0; k < 200; k++) pass(); // warm-up: let the JIT settle
  const rates = [];
  for (let r = 0; r < REPETITIONS; r++) {
    let calls = 0;
    const start = process.hrtime.bigint();
    let elapsed = 0;
    do {
      for (let k = 0; k < 50; k++) pass();
      calls += 50;
      elapsed = Number(process.hrtime.bigint() - start) / 1e9;
    } while (elapsed < MIN_SECONDS);
    rates.push((calls * bytes) / elapsed / 1e9);
  }
  rates.sort((a, b) => a - b);
  return rates[REPETITIONS >> 1];
}

function nativeRates() {
  const out = execFileSync(path.join(nativeBin, 'zelkolink_bench'), [
    '--benchmark_filter=^(BM_ParseKind2Frames/chunk:255|BM_ParseNoise|BM_BaselineMemchrPerChunk)$',
    `--benchmark_min_time=${MIN_SECONDS}`, `--benchmark_repetitions=${REPETITIONS}`,
    '--benchmark_report_aggregates_only=true', '--benchmark_format=json',
  ], { encoding: 'utf8' });
  const rates = {};
  for (const row of JSON.parse(out).benchmarks) {
    if (row.aggregate_name === 'median') rates[row.run_name] = row.bytes_per_second / 1e9;
  }
  return rates;
}

let sink = 0;
const frames = frameStream(2);
const framePieces = pieces(frames, 255);
const noise = noiseStream();
const noisePieces = pieces(noise, 255);
const parser = new PortParser();
parser.feed(new Uint8Array(500)); // nothing pending, as the native benchmark drains

const native = nativeRates();
const feedFrames = measure(frames.length, () => {
  for (const piece of framePieces) sink += parser.feed(piece) ? 1 : 0;
});
const feedWhole = measure(frames.length, () => { sink += parser.feed(frames) ? 1 : 0; });
const feedNoise = measure(noise.length, () => {
  for (const piece of noisePieces) sink += parser.feed(piece) ? 1 : 0;
});
const indexOfNoise = measure(noise.length, () => {
  for (const piece of noisePieces) sink += piece.indexOf(0xfa);
});

const nativeFrames = native['BM_ParseKind2Frames/chunk:255'];
const nativeNoise = native.BM_ParseNoise;
const row = (name, rate, note = '') => console.log(`${name.padEnd(58)} ${rate.toFixed(2).padStart(6)} GB/s  ${note}`);
console.log(`Node.js ${process.version}; ${frames.length} bytes of kind-2 frames, ${noise.length} bytes of noise; medians of ${REPETITIONS}`);
row('native parse_port_data, kind-2 frames, 255-byte chunks', nativeFrames);
row('PortParser.feed, kind-2 frames, 255-byte pieces', feedFrames, `${(feedFrames / nativeFrames).toFixed(2)}x native (goal 0.3x)`);
row('PortParser.feed, kind-2 frames, all 64 KiB in one call', feedWhole, `${(feedWhole / nativeFrames).toFixed(2)}x native`);
row('native parse_port_data, noise without 0xFA, 255-byte chunks', nativeNoise);
row('PortParser.feed, noise without 0xFA, 255-byte pieces', feedNoise, `${(feedNoise / nativeNoise).toFixed(2)}x native`);
row('JS Uint8Array indexOf(0xFA), the same 255-byte pieces', indexOfNoise, `feed takes ${(indexOfNoise / feedNoise).toFixed(2)}x its time`);
if (sink === 0.5) console.log(sink); // keeps the results alive
