// What the JavaScript tests share with each other (tool_harness.py is the
// Python side): the native tools of the linux build, zelkolink-sim on a
// pseudo-terminal, the offline decode of its record by zelkolink-dump, a
// capture as tshark shows it through the project's dissector, port frames
// built as a device sends them, and an SBUS frame's channels.
import { execFileSync, spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const sourceDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

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

export function workDir(name) {
  return mkdtempSync(path.join(os.tmpdir(), `zelkolink-${name}-`));
}

// Every process a test starts, ended by endChildren() whatever failed.
const children = new Set();

export function startChild(command, args, options) {
  const child = spawn(command, args, options);
  children.add(child);
  child.on('exit', () => children.delete(child));
  return child;
}

export function endChildren() {
  for (const child of children) {
    child.kill('SIGCONT'); // a test may have stopped it; stopped, it would never take the SIGTERM
    child.kill('SIGTERM');
  }
}

// zelkolink-sim (--noise, recording every byte it sends) on a fresh
// pseudo-terminal: { process, port, record, events() }, once it printed
// the terminal's path.
export async function startSimulator(sim, work, { rate = 300, seed = 7, name = `sim-${rate}` } = {}) {
  const record = path.join(work, `${name}-${Date.now()}.record`);
  const child = startChild(sim, ['--record', record, '--rate', String(rate), '--noise', '--seed', String(seed)],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  // 'close', not 'exit': the simulator's last log lines arrive before it.
  const closed = once(child, 'close');
  let log = '';
  child.stderr.on('data', (text) => { log += text; });
  const [first] = await once(child.stdout, 'data');
  return { process: child, closed, port: first.toString().trim(), record, events: () => log.split('\n').filter(Boolean) };
}

export async function stopSimulator(simulator) {
  simulator.process.kill('SIGCONT'); // a stopped process ends on SIGTERM only once it runs again
  simulator.process.kill('SIGTERM');
  await simulator.closed;
}

// Every record of a port capture, decoded one byte per call by zelkolink-dump
// (--chunk 1 --json): { offset, inputs, channels }, offset being the byte
// count that completed it.
export function offlineRecords(dump, capture) {
  return execFileSync(dump, ['--chunk', '1', '--json', capture], { encoding: 'utf8', maxBuffer: 1 << 30 })
    .trim().split('\n').map((line) => JSON.parse(line));
}

// A capture's packets as tshark shows them through wireshark/zelkolink.lua:
// { name, description, direction ('in' or 'out'), length, commands, inputs,
// channels }, the last three of every frame the packet completed, in order.
export function dissect(capture, tshark = process.env.ZELKOLINK_TSHARK || 'tshark') {
  const fields = ['frame.interface_name', 'frame.interface_description', 'frame.packet_flags_direction',
    'frame.len', 'zelkolink.command', 'zelkolink.input', 'zelkolink.channel'];
  const text = execFileSync(tshark, ['-r', capture, '-X', `lua_script:${path.join(sourceDir, 'wireshark/zelkolink.lua')}`,
    '-2', '-T', 'fields', '-E', 'separator=/t', '-E', 'aggregator=,', ...fields.flatMap((field) => ['-e', field])],
  { encoding: 'utf8', maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'ignore'] });
  const numbers = (list) => (list ? list.split(',').map(Number) : []);
  return text.split('\n').filter(Boolean).map((line) => {
    const [name, description, direction, length, commands, inputs, channels] = line.split('\t');
    return { name, description, direction: Number(direction) === 2 ? 'out' : 'in', length: Number(length),
      commands: numbers(commands), inputs: numbers(inputs), channels: numbers(channels) };
  });
}

// The record shown after the first `bytes` bytes: the last one they completed.
export function recordAt(records, bytes) {
  return records.filter((record) => record.offset <= bytes).at(-1);
}

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

// The sixteen 11-bit channels of an SBUS frame, least significant bit first.
export function sbusChannels(sbus) {
  const channels = [];
  let bits = 0;
  let value = 0;
  let at = 1;
  while (channels.length < 16) {
    while (bits < 11) {
      value |= sbus[at++] << bits;
      bits += 8;
    }
    channels.push(value & 0x7ff);
    value >>= 11;
    bits -= 11;
  }
  return channels;
}

// The default mapping of device channels: floor(x * 1.706), at most 2047.
export function standardSbus(channels) {
  return channels.slice(0, 16).map((value) => Math.min(2047, Math.floor((Math.min(value, 1200) * 1706) / 1000)));
}

export async function waitFor(predicate, what, seconds = 10) {
  const deadline = Date.now() + seconds * 1000;
  while (!(await predicate())) {
    if (Date.now() > deadline) throw new Error(`timed out after ${seconds} s waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}
