// Runs examples/node/watch.mjs (installed by the build with serialport from
// npm) against zelkolink-sim's pseudo-terminal: the request arrives, every
// row equals the simulator's record decoded offline by zelkolink-dump, and
// Ctrl-C or --count sends the stop frame.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import path from 'node:path';
import { describe, test } from 'node:test';
import { nativeTool, offlineRecords, recordAt, startSimulator, stopSimulator, waitFor, workDir } from './tool_harness.mjs';

const example = path.join(process.env.ZELKOLINK_NODE_EXAMPLE ?? '', 'watch.mjs');
const sim = nativeTool('zelkolink-sim');
const dump = nativeTool('zelkolink-dump');
const skip = sim.skip ?? dump.skip ?? (process.env.ZELKOLINK_NODE_EXAMPLE ? undefined : 'the example is not installed');
const work = workDir('node-watch');

function runExample(args) {
  const child = spawn(process.execPath, [example, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stdout.on('data', (text) => { out += text; });
  child.stderr.on('data', (text) => { err += text; });
  const exited = once(child, 'exit').then(([status]) => ({ status, out, err }));
  return { child, exited, rows: () => out.split('\n').length - 2 };
}

// Each row must hold the record's values after the last frame that ended
// within its read: the offline records one byte per call are the reference.
function checkRows(rows, record) {
  const offline = offlineRecords(dump.tool, record);
  let previous = 0;
  for (const row of rows) {
    const match = recordAt(offline, row.offset);
    assert.ok(match && match.offset > previous, `row at offset ${row.offset} completed no frame`);
    assert.deepEqual([row.inputs, row.channels], [match.inputs, match.channels], `row at offset ${row.offset}`);
    previous = row.offset;
  }
}

describe('examples/node/watch.mjs', { skip }, () => {
  test('CSV rows until Ctrl-C, then the stop frame', async () => {
    const simulator = await startSimulator(sim.tool, work, { name: 'csv' });
    try {
      const run = runExample([simulator.port]);
      await waitFor(() => run.rows() >= 10, '10 rows');
      run.child.kill('SIGINT');
      const { status, out, err } = await run.exited;
      assert.equal(status, 0, err);
      await waitFor(() => simulator.events().includes('stop'), 'the stop frame');
      assert.deepEqual(simulator.events(), ['request 01 00', 'stop']);
      const [header, ...lines] = out.trim().split('\n');
      assert.equal(header.split(',').length, 2 + 9 + 32);
      assert.match(header, /^time,offset,input0,.*,input8,channel0,.*,channel31$/);
      checkRows(lines.map((line) => {
        const values = line.split(',').map(Number);
        return { offset: values[1], inputs: values.slice(2, 11), channels: values.slice(11) };
      }), simulator.record);
    } finally {
      await stopSimulator(simulator);
    }
  });

  test('--json --count 25 --request 02,7f: 25 rows, then the stop frame', async () => {
    const simulator = await startSimulator(sim.tool, work, { name: 'json' });
    try {
      const { status, out, err } = await runExample([simulator.port, '--json', '--count', '25', '--request', '02,7f']).exited;
      assert.equal(status, 0, err);
      const rows = out.trim().split('\n').map((line) => JSON.parse(line));
      assert.equal(rows.length, 25);
      await waitFor(() => simulator.events().includes('stop'), 'the stop frame');
      assert.deepEqual(simulator.events(), ['request 02 7F', 'stop']);
      checkRows(rows, simulator.record);
    } finally {
      await stopSimulator(simulator);
    }
  });

  test('a port that cannot be opened: status 3 and a line naming it', async () => {
    const missing = path.join(work, 'no-such-port');
    const { status, out, err } = await runExample([missing]).exited;
    assert.equal(status, 3);
    assert.equal(out, '');
    assert.match(err, new RegExp(`^watch\\.mjs: ${missing}: .*\\n$`));
  });
});
