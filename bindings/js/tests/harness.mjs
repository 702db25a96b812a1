// What the package's tests share: the staged package and a seeded random
// source; port frames and the native tools come from the tests' own shared
// module.
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

export { frame, kind2Frame, nativeTool } from '../../../tests/tool_harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = process.env.ZELKOLINK_SOURCE_DIR ?? path.resolve(here, '../../..');
export const packageDir = process.env.ZELKOLINK_JS_PACKAGE ?? path.join(sourceDir, 'build/wasm/js-package');
export const zelkolink = await import(pathToFileURL(path.join(packageDir, 'zelkolink.js')).href);

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
