// docs/javascript.md's example, run against the staged package as if
// installed, prints the output the page shows.
import { mkdirSync, mkdtempSync, symlinkSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { runExample } from './docs_example.mjs';
import { packageDir } from './harness.mjs';

test('the documented example prints the documented output', () => {
  const folder = mkdtempSync(path.join(os.tmpdir(), 'zelkolink-docs-'));
  mkdirSync(path.join(folder, 'node_modules'));
  symlinkSync(packageDir, path.join(folder, 'node_modules', 'zelkolink'), 'dir');
  runExample(folder);
});
