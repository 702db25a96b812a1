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
// indexOf(0xFA) over the same 255-byte pieces. Medians of 9 rounds, each
// measuring every row for at least 0.5 s of CPU time; decimal GB/s.
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

// The process's CPU time in seconds: Google Benchmark's rates are per CPU
// second too, so a busy machine slows neither side's figures.
function cpuSeconds() {
  const { user, system } = process.cpuUsage();
  return (user + system) / 1e6;
}

// GB/s of `pass`, which handles `bytes` bytes a call, over at least
// MIN_SECONDS of CPU time.
function measure(bytes, pass) {
  for (let k = 0; k < 200; k++) pass(); // warm-up: let the JIT settle
  let calls = 0;
  let elapsed = 0;
  const start = cpuSeconds();
  do {
    for (let k = 0; k < 50; k++) pass();
    calls += 50;
    elapsed = cpuSeconds() - start;
  } while (elapsed < MIN_SECONDS);
  return (calls * bytes) / elapsed / 1e9;
}

// One repetition of the native benchmarks, GB/s by name.
function nativeRates() {
  const out = execFileSync(path.join(nativeBin, 'zelkolink_bench'), [
    '--benchmark_filter=^(BM_ParseKind2Frames/chunk:255|BM_ParseNoise)$',
    `--benchmark_min_time=${MIN_SECONDS}`, '--benchmark_format=json',
  ], { encoding: 'utf8' });
  const rates = {};
  for (const row of JSON.parse(out).benchmarks) rates[row.run_name] = row.bytes_per_second / 1e9;
  return rates;
}

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

let sink = 0;
const frames = frameStream(2);
const framePieces = pieces(frames, 255);
const noise = noiseStream();
const noisePieces = pieces(noise, 255);
const parser = new PortParser();
parser.feed(new Uint8Array(500)); // nothing pending, as the native benchmark drains

// Native and package take turns, one repetition each a round, so that a
// change in the machine's load falls on both; ratios are per round.
const rounds = [];
for (let r = 0; r < REPETITIONS; r++) {
  const native = nativeRates();
  rounds.push({
    nativeFrames: native['BM_ParseKind2Frames/chunk:255'],
    nativeNoise: native.BM_ParseNoise,
    feedFrames: measure(frames.length, () => {
      for (const piece of framePieces) sink += parser.feed(piece) ? 1 : 0;
    }),
    feedWhole: measure(frames.length, () => { sink += parser.feed(frames) ? 1 : 0; }),
    feedNoise: measure(noise.length, () => {
      for (const piece of noisePieces) sink += parser.feed(piece) ? 1 : 0;
    }),
    indexOfNoise: measure(noise.length, () => {
      for (const piece of noisePieces) sink += piece.indexOf(0xfa);
    }),
  });
}
const m = (name) => median(rounds.map((round) => round[name]));
const ratio = (a, b) => median(rounds.map((round) => round[a] / round[b])).toFixed(2);

const row = (name, rate, note = '') => console.log(`${name.padEnd(58)} ${rate.toFixed(2).padStart(6)} GB/s  ${note}`);
console.log(`Node.js ${process.version}; ${frames.length} bytes of kind-2 frames, ${noise.length} bytes of noise; medians of ${REPETITIONS} rounds`);
row('native parse_port_data, kind-2 frames, 255-byte chunks', m('nativeFrames'));
row('PortParser.feed, kind-2 frames, 255-byte pieces', m('feedFrames'), `${ratio('feedFrames', 'nativeFrames')}x native (goal 0.3x)`);
row('PortParser.feed, kind-2 frames, all 64 KiB in one call', m('feedWhole'), `${ratio('feedWhole', 'nativeFrames')}x native`);
row('native parse_port_data, noise without 0xFA, 255-byte chunks', m('nativeNoise'));
row('PortParser.feed, noise without 0xFA, 255-byte pieces', m('feedNoise'), `${ratio('feedNoise', 'nativeNoise')}x native`);
row('JS Uint8Array indexOf(0xFA), the same 255-byte pieces', m('indexOfNoise'), `feed takes ${ratio('indexOfNoise', 'feedNoise')}x its time`);
if (sink === 0.5) console.log(sink); // keeps the results alive
