// What the package's tests share: the staged package, port frames built the
// way a device sends them, a seeded random source, and the native tools.
import { existsSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = process.env.ZELKOLINK_SOURCE_DIR ?? path.resolve(here, '../../..');
export const packageDir = process.env.ZELKOLINK_JS_PACKAGE ?? path.join(sourceDir, 'build/wasm/js-package');
export const zelkolink = await import(pathToFileURL(path.join(packageDir, 'zelkolink.js')).href);

// A port frame: FA, command, 16-bit little-endian length, payload, 5F.
export function frame(command, payload) {
  return Uint8Array.from([0xfa, command, payload.length & 0xff, payload.length >> 8, ...payload, 0x5f]);
}

// An upload-data frame of record kind 2: nine inputs, then from payload byte
// 31 on thirty-two channels, all little-endian.
export function kind2Frame(inputs, channels) {
  const payload = new Uint8Array(95);
  payload[0] = 2;
  inputs.forEach((value, k) => { payload[1 + 2 * k] = value & 0xff; payload[2 + 2 * k] = value >> 8; });
  channels.forEach((value, k) => { payload[31 + 2 * k] = value & 0xff; payload[32 + 2 * k] = value >> 8; });
  return frame(0xa5, payload);
}

export function concat(parts) {
  const out = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) { out.set(part, at); at += part.length; }
  return out;
}

// A small seeded generator (mulberry32): the same cuts on every run.
export function random(seed) {
  let state = seed >>> 0;
  return (limit) => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return (((t ^ (t >>> 14)) >>> 0) % limit);
  };
}

// A native tool from the linux build, or the reason a test must skip: with
// ZELKOLINK_REQUIRE_NATIVE=1 (the full test run) its absence is a failure.
export function nativeTool(name) {
  const dir = process.env.ZELKOLINK_NATIVE_BIN ?? path.join(sourceDir, 'build/linux/bin');
  const tool = path.join(dir, name);
  if (existsSync(tool)) return { tool };
  if (process.env.ZELKOLINK_REQUIRE_NATIVE === '1') {
    throw new Error(`${tool} is missing: build the linux preset first`);
  }
  return { skip: `${tool} is missing (build the linux preset first)` };
}
