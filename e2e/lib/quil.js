// Starts the quil program and a headless Chromium on its page, each test in
// a home folder of its own.
import { spawn } from 'node:child_process';
import { chmodSync, copyFileSync, mkdtempSync, mkdirSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';
import { removeScratch } from './processes.js';

export const ROOT = resolve(import.meta.dirname, '..', '..');
export const BUILD = process.env.QUIL_BUILD_DIR || join(ROOT, 'build');
export const QUIL = join(BUILD, 'src', 'quil');
export const OUT = join(ROOT, 'e2e', 'out');

// A fresh home folder. Its bin/systemctl stands in for the user's service
// manager (tests/support/fake_systemctl.sh): its reminder timer is on (so
// saving offers nothing) until a test writes another state into
// systemctl/state, or removes it (no timer installed).
export function makeHome() {
  const home = mkdtempSync(join(tmpdir(), 'quil-e2e-'));
  mkdirSync(join(home, 'tmp'));
  mkdirSync(join(home, 'bin'));
  mkdirSync(join(home, 'systemctl'));
  writeFileSync(join(home, 'systemctl', 'state'), 'enabled\n');
  copyFileSync(join(ROOT, 'tests', 'support', 'fake_systemctl.sh'), join(home, 'bin', 'systemctl'));
  chmodSync(join(home, 'bin', 'systemctl'), 0o755);
  return home;
}

// The home's bin (its systemctl) stays first on PATH, also before a PATH
// of `extra`.
export function homeEnv(home, extra = {}) {
  return {
    ...process.env,
    HOME: home,
    TMPDIR: join(home, 'tmp'),
    XDG_CONFIG_HOME: join(home, '.config'),
    XDG_DATA_HOME: join(home, '.local', 'share'),
    XDG_STATE_HOME: join(home, '.local', 'state'),
    ...extra,
    PATH: `${join(home, 'bin')}:${extra.PATH ?? process.env.PATH}`,
  };
}

// Runs quil (with --no-browser unless `window`); resolves once it printed its
// page address. `command` runs it through another program (wine, for
// quil.exe) or runs another copy of it. `nextLine()` waits for further
// output lines (a restarted copy prints its address to the same output).
export function startQuil({ home = makeHome(), args = [], env = {}, command = [QUIL], window = false } = {}) {
  const child = spawn(command[0], [...command.slice(1), ...(window ? [] : ['--no-browser']), ...args], {
    env: homeEnv(home, env),
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const exited = new Promise((res) => child.on('exit', (code, signal) => res({ code, signal })));
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const lines = [];
  const waiting = [];
  createInterface({ input: child.stdout }).on('line', (line) => {
    if (waiting.length) waiting.shift()(line);
    else lines.push(line);
  });
  const nextLine = () => (lines.length ? Promise.resolve(lines.shift()) : new Promise((res) => waiting.push(res)));
  return new Promise((res, rej) => {
    const timer = setTimeout(() => rej(new Error('quil did not start: ' + stderr)), 30000);
    nextLine().then((line) => {
      clearTimeout(timer);
      const url = new URL(line.trim());
      res({
        child, home, exited, nextLine, url: url.href,
        origin: url.origin,
        port: Number(url.port),
        token: url.searchParams.get('token'),
        stderr: () => stderr,
        async stop() {
          if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
          await exited;
          await removeScratch(home);
        },
      });
    });
    child.on('exit', () => rej(new Error('quil exited early: ' + stderr)));
  });
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A page of the main window size showing quil's page.
export async function openPage(browser, quil) {
  const context = await browser.newContext({ viewport: { width: 687, height: 470 }, locale: 'zh-TW' });
  const page = await context.newPage();
  await page.goto(quil.url);
  return page;
}

// Calls a method the way the page does, from inside the page.
export function callInPage(page, method, ...args) {
  return page.evaluate(([m, a]) => import('/js/bridge.js').then((b) => b.call(m, ...a)), [method, args]);
}

// Calls a method over the API with the token header (automation).
export async function callApi(quil, method, args = []) {
  const res = await fetch(quil.origin + '/api/call', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-QUIL-Token': quil.token },
    body: JSON.stringify({ method, args }),
  });
  return { status: res.status, body: await res.json() };
}

export async function screenshot(page, name) {
  mkdirSync(OUT, { recursive: true });
  await page.screenshot({ path: join(OUT, name + '.png') });
}

// The screen at 100 % (name.png) and as 200 % zoom shows it in the same
// window (name@200.png): half the CSS pixels, each drawn twice as large.
export async function screenshotZoomed(page, name) {
  await screenshot(page, name);
  const size = page.viewportSize();
  const cdp = await page.context().newCDPSession(page);
  try {
    await cdp.send('Emulation.setDeviceMetricsOverride', {
      width: Math.floor(size.width / 2), height: Math.floor(size.height / 2), deviceScaleFactor: 2, mobile: false,
    });
    // Through the same session: Playwright's own screenshot sets its metrics again.
    const { data } = await cdp.send('Page.captureScreenshot', { format: 'png' });
    writeFileSync(join(OUT, name + '@200.png'), Buffer.from(data, 'base64'));
  } finally {
    await cdp.send('Emulation.clearDeviceMetricsOverride');
    await cdp.detach();
    await page.setViewportSize(size);
  }
}
