// Fake browser executables for quil's browser detection: scripts that
// print a version for --version and record every other start.
import { chmodSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// `programs`: { name: version text }. The environment quil needs to find
// them, and only them: PATH holds the fakes alone, the application entries
// of the system are out of sight.
export function fakeBrowsers(programs) {
  const root = mkdtempSync(join(tmpdir(), 'quil-browsers-'));
  const bin = join(root, 'bin');
  const started = join(root, 'started');
  mkdirSync(bin);
  mkdirSync(started);
  mkdirSync(join(root, 'share'));
  for (const [name, version] of Object.entries(programs)) {
    const path = join(bin, name);
    writeFileSync(path, `#!/bin/sh\nif [ "$1" = --version ]; then echo '${version}'; exit 0; fi\n` +
      `echo "$*" >> '${join(started, name)}'\n`);
    chmodSync(path, 0o755);
  }
  return {
    env: { PATH: bin, XDG_DATA_DIRS: join(root, 'share'), XDG_CONFIG_DIRS: join(root, 'share') },
    // The argument lines of the program's starts; waits for `count` of them.
    async starts(name, count = 1) {
      let lines = [];
      for (const until = Date.now() + 10000; Date.now() < until; await sleep(100)) {
        try { lines = readFileSync(join(started, name), 'utf8').split('\n').filter(Boolean); } catch { lines = []; }
        if (lines.length >= count) break;
      }
      return lines;
    },
    remove() { rmSync(root, { recursive: true, force: true }); },
  };
}
