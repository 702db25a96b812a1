// Runs docs/javascript.md's example in FOLDER, where zelkolink is installed,
// and compares what it prints with the output the page shows under it.
// node docs_example.mjs FOLDER  (exit status 1 and a diff when they differ)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const page = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../../docs/javascript.md');

export function block(marker) {
  const text = readFileSync(page, 'utf8');
  const found = [...text.matchAll(new RegExp(`^<!-- ${marker} -->\\n\`\`\`[a-z]*\\n([\\s\\S]*?)^\`\`\`$`, 'gm'))];
  assert.equal(found.length, 1, `docs/javascript.md needs exactly one block marked <!-- ${marker} -->`);
  return found[0][1];
}

export function runExample(folder) {
  writeFileSync(path.join(folder, 'example.mjs'), block('example: javascript'));
  const printed = execFileSync(process.execPath, ['example.mjs'], { cwd: folder, encoding: 'utf8' });
  assert.equal(printed, block('example output: javascript'));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) runExample(path.resolve(process.argv[2]));
