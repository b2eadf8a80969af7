// The customer's side of the security component in the browser tests: a
// Firefox profile of the user, Chromium with the extension the component
// installed for the user, headless Firefox ESR started on a page, and
// QUIL's confirmation screen.
import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
// The WebSocket client playwright-core ships (node 20 has none of its own).
import { ws as WebSocket } from 'playwright-core/lib/utilsBundle';
import { homeEnv } from './quil.js';

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export const HOST_NAME = 'tw.com.example.quil.signer';
export const GECKO_ID = 'quil-signer@example.com.tw';

// Where the component's per-user installation puts things in `home`.
export function componentPaths(home) {
  const data = join(home, '.local', 'share', 'quil', 'signer');
  return {
    host: join(data, 'quil-signer'),
    extension: join(data, 'extension'),
    chromiumManifest: join(home, '.config', 'chromium', 'NativeMessagingHosts', `${HOST_NAME}.json`),
    firefoxManifest: join(home, '.mozilla', 'native-messaging-hosts', `${HOST_NAME}.json`),
  };
}

// A Firefox ESR profile listed in the user's profiles.ini that trusts the
// demo authority for web sites and picks the client certificate by itself,
// as a customer's would after answering the certificate question once.
export function makeFirefoxProfile(home, rootCert) {
  const base = join(home, '.mozilla', 'firefox');
  const profile = join(base, 'quil.default-esr');
  mkdirSync(profile, { recursive: true });
  writeFileSync(join(base, 'profiles.ini'),
    '[Profile0]\nName=default-esr\nIsRelative=1\nPath=quil.default-esr\nDefault=1\n\n' +
    '[General]\nStartWithLastProfile=1\nVersion=2\n');
  const prefs = {
    'security.default_personal_cert': '"Select Automatically"',
    'browser.shell.checkDefaultBrowser': 'false',
    'browser.aboutwelcome.enabled': 'false',
    'browser.startup.homepage_override.mstone': '"ignore"',
    'datareporting.policy.dataSubmissionEnabled': 'false',
    'toolkit.telemetry.reportingpolicy.firstRun': 'false',
    'app.update.disabledForTesting': 'true',
    'network.connectivity-service.enabled': 'false',
    'network.captive-portal-service.enabled': 'false',
    'browser.safebrowsing.update.enabled': 'false',
    'extensions.update.enabled': 'false',
    'extensions.getAddons.cache.enabled': 'false',
    'security.OCSP.enabled': '0',
    'network.proxy.type': '0',
    // A test's remote control of Firefox changes none of these.
    'remote.prefs.recommended': 'false',
  };
  writeFileSync(join(profile, 'user.js'),
    Object.entries(prefs).map(([k, v]) => `user_pref("${k}", ${v});\n`).join(''));
  execFileSync('certutil', ['-N', '--empty-password', '-d', `sql:${profile}`]);
  execFileSync('certutil', ['-A', '-n', 'QUIL Demo Root', '-t', 'C,,', '-d', `sql:${profile}`, '-i', rootCert]);
  return profile;
}

// Waits until every path exists (the installer runs on its own).
export async function waitForFiles(paths, timeoutMs = 30000) {
  for (const until = Date.now() + timeoutMs; Date.now() < until; await sleep(100))
    if (paths.every((p) => existsSync(p))) return;
  throw new Error('not installed: ' + paths.filter((p) => !existsSync(p)).join(', '));
}

// The certificate and key of a PKCS#12 file as PEM files beside it (for
// Playwright's client certificates; node reads no RC2-protected file).
export function pemFromPkcs12(pfx, password) {
  const cert = `${pfx}.crt.pem`;
  const key = `${pfx}.key.pem`;
  execFileSync('openssl', ['pkcs12', '-legacy', '-in', pfx, '-passin', `pass:${password}`, '-clcerts', '-nokeys',
    '-out', cert]);
  execFileSync('openssl', ['pkcs12', '-legacy', '-in', pfx, '-passin', `pass:${password}`, '-nocerts', '-nodes',
    '-out', key]);
  return { certPath: cert, keyPath: key };
}

// Chromium on the user's own profile folder (where the component put the
// host's manifest) with the extension the component installed, presenting
// the client certificate to `origins`.
export async function chromiumWithExtension(home, origins, clientCert, extraArgs = []) {
  const { extension } = componentPaths(home);
  return chromium.launchPersistentContext(join(home, '.config', 'chromium'), {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    env: homeEnv(home),
    ignoreHTTPSErrors: true,
    locale: 'zh-TW',
    clientCertificates: origins.map((origin) => ({ origin, ...clientCert })),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
      '--disable-background-networking', '--disable-component-update',
      `--disable-extensions-except=${extension}`, `--load-extension=${extension}`, ...extraArgs],
  });
}

// Headless Firefox ESR on `profile`, in a process group of its own so that
// its content processes end with it, opened on `url`. With `driven` a test
// reads and works its page over WebDriver BiDi (Firefox's own remote
// protocol; the profile's preferences stay the customer's):
// `evaluate(expression)` gives the expression's value in the page,
// `waitFor(expression)` waits until it is true, `navigate(url)` opens
// another address in the tab.
export async function startFirefox(home, profile, url, { driven = false } = {}) {
  const child = spawn('/usr/bin/firefox-esr',
    ['--headless', '--no-remote', ...(driven ? ['--remote-debugging-port=0'] : []), '--profile', profile, url], {
      env: homeEnv(home, { MOZ_HEADLESS: '1' }),
      stdio: ['ignore', 'ignore', driven ? 'pipe' : 'ignore'],
      detached: true,
    });
  const exited = new Promise((res) => child.on('exit', res));
  const stop = async () => {
    try { process.kill(-child.pid, 'SIGTERM'); } catch { return; }
    const done = await Promise.race([exited.then(() => true), sleep(10000).then(() => false)]);
    try { process.kill(-child.pid, 'SIGKILL'); } catch { /* ended */ }
    if (!done) await exited;
  };
  if (!driven) return { stop };
  try {
    const address = await new Promise((resolve, reject) => {
      let seen = '';
      const timer = setTimeout(() => reject(new Error('Firefox never listened for WebDriver BiDi')), 60000);
      child.stderr.on('data', (chunk) => {
        seen = (seen + chunk).slice(-4096);
        const m = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(seen);
        if (m) { clearTimeout(timer); resolve(m[1]); }
      });
      child.on('exit', () => { clearTimeout(timer); reject(new Error('Firefox ended: ' + seen)); });
    });
    child.stderr.resume();
    const bidi = await connectBidi(`${address}/session`);
    await bidi.send('session.new', { capabilities: {} });
    const { contexts } = await bidi.send('browsingContext.getTree', {});
    const context = contexts[0].context;
    const evaluate = async (expression) => {
      const r = await bidi.send('script.evaluate', { expression, target: { context }, awaitPromise: true });
      if (r.type !== 'success') throw new Error(`${expression}: ${JSON.stringify(r.exceptionDetails)}`);
      return r.result.value;
    };
    return {
      evaluate,
      async waitFor(expression, timeoutMs = 30000) {
        for (const until = Date.now() + timeoutMs; Date.now() < until; await sleep(100))
          if (await evaluate(`!!(${expression})`).catch(() => false)) return;
        throw new Error(`Firefox's page never had ${expression}`);
      },
      navigate: (to) => bidi.send('browsingContext.navigate', { context, url: to, wait: 'complete' }),
      async stop() {
        bidi.close();
        await stop();
      },
    };
  } catch (e) {
    await stop();
    throw e;
  }
}

// A WebDriver BiDi connection: `send(method, params)` answers the command's
// result or fails with its error.
async function connectBidi(address) {
  const socket = new WebSocket(address);
  await new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); });
  const waiting = new Map();
  let next = 0;
  socket.on('message', (data) => {
    const m = JSON.parse(String(data));
    const w = waiting.get(m.id);
    if (!w) return;
    waiting.delete(m.id);
    if (m.type === 'error') w.reject(new Error(`${m.error}: ${m.message}`));
    else w.resolve(m.result);
  });
  socket.on('close', () => {
    for (const w of waiting.values()) w.reject(new Error('Firefox closed the connection'));
    waiting.clear();
  });
  return {
    send(method, params) {
      const id = ++next;
      return new Promise((resolve, reject) => {
        waiting.set(id, { resolve, reject });
        socket.send(JSON.stringify({ id, method, params }));
      });
    },
    close: () => socket.close(),
  };
}

// QUIL's confirmation screen, once it shows.
export const signScreen = (page) => page.locator('#modal-layer .sign-window');

// Waits for the screen and answers it: `password` (for a file certificate)
// and 確認簽章, or 取消 when `cancel`. Returns what the screen showed.
export async function answerSignScreen(page, { password = null, cancel = false } = {}) {
  const screen = signScreen(page);
  await screen.waitFor({ timeout: 30000 });
  const shown = {
    origin: await screen.locator('.sign-origin').innerText(),
    text: await screen.locator('.sign-text').textContent(),
    facts: await screen.locator('.sign-facts').innerText(),
  };
  if (cancel) {
    await screen.getByRole('button', { name: '取消' }).click();
  } else {
    if (password !== null) await screen.locator('input[type=password]').fill(password);
    await screen.getByRole('button', { name: '確認簽章' }).click();
  }
  await screen.waitFor({ state: 'detached' });
  return shown;
}
