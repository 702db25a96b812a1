#!/usr/bin/env node
// Reads a ZelkoLink device's serial port with the serialport package and
// prints a row for every read that completed an upload frame, as
// zelkolink-dump --port does: CSV "time,offset,input0..8,channel0..31", or
// JSON lines with --json. Sends the upload request on open and the stop
// frame on Ctrl-C, SIGTERM or --count.
import { PortParser, requestFrame, stopFrame } from 'zelkolink';
import { SerialPort } from 'serialport';

const USAGE = `Usage: node watch.mjs PORT [--baud N] [--request B0,B1] [--count N] [--json]

  PORT             the serial port: /dev/ttyUSB0, COM3, or a zelkolink-sim path
  --baud N         line speed, 8N1 (default 115200)
  --request B0,B1  the upload request's two payload bytes, hex (default 01,00)
  --count N        stop after N rows
  --json           print {"time":T,"offset":N,"inputs":[...],"channels":[...]} lines
  -h, --help       print this help

Exit status: 0 done or stopped, 2 bad usage, 3 the port cannot be opened,
4 the port is held by another process, 5 the port went away.`;

function fail(message, status) {
  process.stderr.write(`watch.mjs: ${message}\n`);
  process.exit(status);
}

function parseArguments(args) {
  const options = { baud: 115200, request: [0x01, 0x00], count: Infinity, json: false };
  for (let k = 0; k < args.length; k++) {
    const argument = args[k];
    const value = () => (k + 1 < args.length ? args[++k] : fail(`${argument} needs a value`, 2));
    if (argument === '-h' || argument === '--help') {
      console.log(USAGE);
      process.exit(0);
    } else if (argument === '--json') {
      options.json = true;
    } else if (argument === '--baud' || argument === '--count') {
      const text = value();
      const number = Number(text);
      if (!/^\d+$/.test(text) || number < 1) fail(`${argument} takes a whole number above 0, got '${text}'`, 2);
      options[argument.slice(2)] = number;
    } else if (argument === '--request') {
      const text = value();
      if (!/^[0-9a-fA-F]{1,2},[0-9a-fA-F]{1,2}$/.test(text)) fail(`--request takes two hex bytes B0,B1, got '${text}'`, 2);
      options.request = text.split(',').map((byte) => parseInt(byte, 16));
    } else if (argument.startsWith('-') || options.path) {
      fail(`unexpected argument '${argument}' (see --help)`, 2);
    } else {
      options.path = argument;
    }
  }
  if (!options.path) fail('no PORT given (see --help)', 2);
  return options;
}

const options = parseArguments(process.argv.slice(2));
const parser = new PortParser();
const started = performance.now();
let received = 0;
let rows = 0;
let stopping = false;

const port = new SerialPort({ path: options.path, baudRate: options.baud, autoOpen: false });

port.open((error) => {
  if (error) {
    const busy = /lock|busy|access denied/i.test(error.message);
    fail(`${options.path}: ${error.message.replace(/^Error:? /, '')}`, busy ? 4 : 3);
  }
  if (!options.json) {
    const names = ['time', 'offset'];
    for (let k = 0; k < 9; k++) names.push(`input${k}`);
    for (let k = 0; k < 32; k++) names.push(`channel${k}`);
    console.log(names.join(','));
  }
  port.write(requestFrame(options.request[0], options.request[1]));
});

port.on('data', (bytes) => {
  if (stopping) return;
  received += bytes.length;
  if (!parser.feed(bytes)) return;
  const time = ((performance.now() - started) / 1000).toFixed(3);
  if (options.json) {
    console.log(`{"time":${time},"offset":${received},"inputs":[${parser.inputs}],"channels":[${parser.channels}]}`);
  } else {
    console.log(`${time},${received},${parser.inputs},${parser.channels}`);
  }
  if (++rows >= options.count) stop(0);
});

// A port that closes without being asked to went away (an adapter pulled out).
port.on('close', (error) => {
  if (!stopping) fail(`${options.path}: device disconnected${error ? ` (${error.message})` : ''}`, 5);
});
port.on('error', (error) => {
  if (!stopping) fail(`${options.path}: ${error.message}`, 5);
});

// Ends the upload: the stop frame, written out before the port closes.
function stop(status) {
  if (stopping) return;
  stopping = true;
  if (!port.isOpen) process.exit(status);
  port.write(stopFrame(), () => port.drain(() => port.close(() => process.exit(status))));
}

process.on('SIGINT', () => stop(0));
process.on('SIGTERM', () => stop(0));
process.stdout.on('error', () => stop(0)); // the reader went away: | head
