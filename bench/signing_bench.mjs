// Signing orders through the security component, against the demo proxy,
// after the customer's road (application, deployment, the component
// installed for the user):
//   - Chromium (the extension in the user's profile folder) and headless
//     Firefox ESR (the extension in its profile): the first signature after
//     the browser starts (from starting the browser on an order link to the
//     broker's record of the order), then per signature (one order after
//     another, the interval between the broker's records: signature, QUIL's
//     screen and the order's post);
//   - in each browser, measured in the page: the first signature once the
//     page is up (the host starts with it), each later one, and the kept
//     port alone (a request the host refuses without a screen).
// QUIL's screen is answered by a script in QUIL's page the moment it
// shows: the figures hold no customer's time. Prints one JSON object.
//   node bench/signing_bench.mjs [--signatures N]
import { join } from 'node:path';
import { parseArgs } from 'node:util';
import { startDevProxy } from '../e2e/lib/devproxy.js';
import { fakeBrowsers } from '../e2e/lib/fake_browsers.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, newCustomer, submitSave,
} from '../e2e/lib/page_actions.js';
import { launchBrowser, makeHome, openPage, startQuil } from '../e2e/lib/quil.js';
import {
  chromiumWithExtension, componentPaths, makeFirefoxProfile, pemFromPkcs12, startFirefox, waitForFiles,
} from '../e2e/lib/signing.js';

const { values: opts } = parseArgs({ options: { signatures: { type: 'string', default: '8' } } });
const N = Number(opts.signatures);
const PASSWORD = 'pfx12345';
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function stats(ms) {
  const s = [...ms].sort((a, b) => a - b);
  const at = (q) => s[Math.min(s.length - 1, Math.ceil(q * s.length) - 1)];
  const r = (x) => Math.round(x * 10) / 10;
  return { n: s.length, median_ms: r(at(0.5)), p90_ms: r(at(0.9)), max_ms: r(s[s.length - 1]) };
}

// Runs in the trading page: the first signature of a fresh page (the host
// starts with it), `n` later ones, and `n` requests the host refuses
// without a screen (the kept port alone).
async function signInPage(n) {
  let seq = 0;
  const sign = (text) => new Promise((resolve) => {
    const id = `bench-${++seq}`;
    const listen = (e) => {
      if (e.source !== window || e.data?.type !== 'quil-sign-result' || e.data.id !== id) return;
      window.removeEventListener('message', listen);
      resolve(e.data);
    };
    window.addEventListener('message', listen);
    window.postMessage({ type: 'quil-sign', id, text }, location.origin);
  });
  const timed = async (text) => {
    const start = performance.now();
    const answer = await sign(text);
    return { ms: performance.now() - start, ok: answer.ok, reason: answer.reason };
  };
  const first = await timed('bench order 0');
  const later = [];
  for (let i = 1; i <= n; i++) later.push(await timed(`bench order ${i}`));
  const port = [];
  for (let i = 0; i < n; i++) port.push(await timed(`refused \u202E${i}`));
  return { first, later, port };
}

function summary(ip) {
  if (!ip.first.ok || ip.later.some((x) => !x.ok)) throw new Error('a signature failed: ' + JSON.stringify(ip));
  return {
    first_signature_ms: Math.round(ip.first.ms),
    per_signature: stats(ip.later.map((x) => x.ms)),
    kept_port_refusal: stats(ip.port.map((x) => x.ms)),
  };
}

const proxy = await startDevProxy();
await proxy.admin('POST', 'syscfg', { key: 'depCert.mode', value: 'N' });
const fakes = fakeBrowsers({ chromium: 'Chromium 156.0.8078.129 built on Debian GNU/Linux 12', firefox: 'Mozilla Firefox 153.8.0esr' });
const home = makeHome();
const profile = makeFirefoxProfile(home, join(proxy.data, 'ca', 'root.crt'));
const customer = await newCustomer(proxy, { sheetCodes: ['BN12CH'] });
const quil = await startQuil({ home, env: { ...proxy.env, ...fakes.env } });
const browser = await launchBrowser();
const out = { load_before: (await import('node:os')).loadavg().map((x) => Math.round(x * 100) / 100) };
let chromium = null;
try {
  const page = await openPage(browser, quil);
  await page.getByText('Version:1.9').waitFor();
  await loginToAgreement(page, customer);
  await acceptAgreement(page);
  const pfx = join(home, 'QUIL', `${customer.idno}.P12`);
  await submitSave(page, pfx, PASSWORD);
  await expectMessage(page, '憑證儲存完成！');
  await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', true);
  await page.locator('#btn-deploy-import').click();
  await page.locator('#deploy-pw').fill(PASSWORD);
  await page.locator('#form-deployfile button[type=submit]').click();
  await expectMessage(page, '即將進行瀏覽器憑證安裝');
  await answerQuestion(page, '您尚未安裝安控元件或目前使用的版本需要更新。\n\n開始下載安控元件安裝檔並進行安控元件安裝？', true);
  await expectMessage(page, '安控元件安裝檔下載完成，現在將開始為您啟動安控元件安裝程序');
  const paths = componentPaths(home);
  await waitForFiles([paths.host, paths.extension, paths.chromiumManifest, paths.firefoxManifest]);

  // QUIL's screen confirmed as soon as it shows.
  await page.evaluate((password) => {
    const layer = document.getElementById('modal-layer');
    new MutationObserver(() => {
      const screen = layer.querySelector('.sign-window:not([data-answered])');
      if (!screen) return;
      screen.dataset.answered = '1';
      const field = screen.querySelector('input[type=password]');
      if (field) field.value = password;
      screen.querySelector('button.primary').click();
    }).observe(layer, { childList: true, subtree: true });
  }, PASSWORD);

  const trading = new URL((await proxy.admin('GET', 'syscfg'))['depCert.targetUrl'].split(',')[1]).origin;
  const link = (repeat) => `${trading}/?order=2330,買進,1000,600.00&repeat=${repeat}`;
  const count = async () => (await proxy.admin('GET', 'orders')).length;
  // When the broker's record count reaches each of `targets`, polled finely.
  async function arrivals(from, total, timeoutMs = 120000) {
    const times = [];
    for (const until = Date.now() + timeoutMs; times.length < total && Date.now() < until; await sleep(5)) {
      const n = (await count()) - from;
      while (times.length < n) times.push(performance.now());
    }
    if (times.length < total) throw new Error(`only ${times.length} of ${total} orders arrived`);
    return times;
  }
  const intervals = (t) => t.slice(1).map((x, i) => x - t[i]);

  // Chromium.
  let before = await count();
  let t0 = performance.now();
  chromium = await chromiumWithExtension(home, [trading], pemFromPkcs12(pfx, PASSWORD));
  const tab = await chromium.newPage();
  await tab.goto(link(N + 1));
  let t = await arrivals(before, N + 1);
  out.chromium = { first_after_browser_start_ms: Math.round(t[0] - t0), per_signature_with_post: stats(intervals(t)) };

  // In the page: the first signature of a fresh page, later ones, the kept port alone.
  const inPage = await chromium.newPage();
  await inPage.goto(trading + '/');
  await inPage.locator('#component[data-state=ready]').waitFor();
  out.chromium.in_page = summary(await inPage.evaluate(signInPage, N));
  await chromium.close();
  chromium = null;

  // Firefox ESR.
  before = await count();
  t0 = performance.now();
  const firefox = await startFirefox(home, profile, link(N + 1));
  try {
    t = await arrivals(before, N + 1);
  } finally {
    await firefox.stop();
  }
  out.firefox = { first_after_browser_start_ms: Math.round(t[0] - t0), per_signature_with_post: stats(intervals(t)) };
  // In the page, over WebDriver BiDi (a start of its own: the remote
  // control stays out of the figures above).
  const driven = await startFirefox(home, profile, trading + '/', { driven: true });
  try {
    await driven.waitFor("document.querySelector('#component')?.dataset.state === 'ready'", 60000);
    out.firefox.in_page = summary(JSON.parse(await driven.evaluate(`(${signInPage})(${N}).then(JSON.stringify)`)));
  } finally {
    await driven.stop();
  }
  const orders = await proxy.admin('GET', 'orders');
  out.accepted = orders.filter((o) => o.accepted).length;
  out.orders = orders.length;
} finally {
  await chromium?.close();
  await browser.close();
  await quil.stop();
  await proxy.stop();
  fakes.remove();
}
out.load_after = (await import('node:os')).loadavg().map((x) => Math.round(x * 100) / 100);
console.log(JSON.stringify(out, null, 2));
