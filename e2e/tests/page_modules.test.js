// The page names every module it loads in its preload list, so the browser
// fetches them all at once instead of one level of imports after another.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { test } from 'node:test';

const WWW = resolve(import.meta.dirname, '..', '..', 'src', 'pages', 'www');

function importsOf(file) {
  const text = readFileSync(join(WWW, 'js', file), 'utf8');
  return [...text.matchAll(/^\s*(?:import|export)\b[^;]*?\bfrom\s+'\.\/([\w.-]+\.js)'/gm)].map((m) => m[1]);
}

test('index.html preloads exactly the modules main.js reaches', () => {
  const html = readFileSync(join(WWW, 'index.html'), 'utf8');
  const preloaded = [...html.matchAll(/<link rel="modulepreload" href="js\/([\w.-]+\.js)">/g)].map((m) => m[1]);
  const reached = new Set();
  const todo = ['main.js'];
  while (todo.length) {
    for (const next of importsOf(todo.pop())) {
      if (!reached.has(next)) {
        reached.add(next);
        todo.push(next);
      }
    }
  }
  assert.deepEqual([...preloaded].sort(), [...reached].sort());
  assert.ok(reached.size > 10, 'the import reader found the imports');
});
