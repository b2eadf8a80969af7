// Runs the demo operator proxy for a test file and talks to its admin API.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync } from 'node:fs';
import { request } from 'node:https';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { removeScratch } from './processes.js';
import { BUILD } from './quil.js';

// The QUIL_* variables of the demo proxy whose data folder is `data`, and
// a caller of its admin API.
export function demoProxyAt(data) {
  const env = {};
  for (const line of readFileSync(join(data, 'quil.env'), 'utf8').split('\n')) {
    const eq = line.indexOf('=');
    if (line.startsWith('QUIL_') && eq > 0) env[line.slice(0, eq)] = line.slice(eq + 1);
  }
  const ca = readFileSync(env.QUIL_PROXY_CA);
  const token = readFileSync(join(data, 'admin_token'), 'utf8').trim();
  const origin = new URL(env.QUIL_PROXY_URL).origin;

  function admin(method, what, body) {
    return new Promise((res, rej) => {
      const req = request(`${origin}/admin/${what}`, {
        method, ca, headers: { 'X-Admin-Token': token, 'Content-Type': 'application/json' },
      }, (r) => {
        let text = '';
        r.on('data', (d) => { text += d; });
        r.on('end', () => res(JSON.parse(text || 'null')));
      });
      req.on('error', rej);
      if (body) req.write(JSON.stringify(body));
      req.end();
    });
  }
  return { env, admin };
}

// `args`: further options (`--update-file PATH`, see devproxy/README.md).
export async function startDevProxy({ args = [] } = {}) {
  const data = mkdtempSync(join(tmpdir(), 'quil-devproxy-'));
  // The build's key set: a new data folder makes no keys of its own.
  const child = spawn(join(BUILD, 'devproxy', 'quil-devproxy'),
    ['--data', data, '--key-set', join(BUILD, 'test-keys'), ...args], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const exited = new Promise((res) => child.on('exit', res));
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const baseUrl = await new Promise((res, rej) => {
    const timer = setTimeout(() => rej(new Error('devproxy did not start: ' + stderr)), 60000);
    createInterface({ input: child.stdout }).once('line', (line) => { clearTimeout(timer); res(line.trim()); });
    child.on('exit', () => rej(new Error('devproxy exited: ' + stderr)));
  });
  const { env, admin } = demoProxyAt(data);
  return {
    baseUrl, env, data, admin,
    audit: () => admin('GET', 'audit'),
    mailbox: () => admin('GET', 'mailbox'),
    requests: () => admin('GET', 'requests'),
    certs: (idno) => admin('GET', `certs?idno=${encodeURIComponent(idno)}`),
    addCustomer: (c) => admin('POST', 'customer', c),
    async stop() {
      child.kill('SIGTERM');
      await exited;
      await removeScratch(data);
    },
  };
}
