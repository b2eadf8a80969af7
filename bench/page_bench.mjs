// The program as the customer meets it, driven through Debian's chromium
// (playwright-core from e2e/) against the demo proxy:
//   - page ready: from starting `quil --no-browser` to the first answered
//     call of the loaded page (the browser is started beforehand);
//   - page ready from navigation against the browser's floor: a new page's
//     navigation to the first answered call, for quil's page (the program
//     just started) and for a one-line page whose module script makes one
//     fetch to a trivial loopback server of this bench, taken in turn; their
//     ratio; and quil's login screen taking input, from the same navigation;
//   - bridge round trip of getClientVersion from the page's own call (its
//     socket), in the Playwright-driven browser and in one nothing
//     instruments, and from plain HTTP clients (node's http, Python's
//     http.client) over one kept-alive connection;
//   - quil's resident memory idle and at its peak through one application
//     (login, sheet code, agreement, key and request, PKCS#12 file).
// Prints one JSON object; bench/run.sh shows it with the other figures.
//   node bench/page_bench.mjs [--calls N] [--starts N] [--ready-only]
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync } from 'node:fs';
import { Agent, createServer, request } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { parseArgs } from 'node:util';
import { startDevProxy } from '../e2e/lib/devproxy.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, newCustomer, submitSave,
} from '../e2e/lib/page_actions.js';
import { descendantsOf, processesGone, removeScratch } from '../e2e/lib/processes.js';
import { launchBrowser, startQuil } from '../e2e/lib/quil.js';

const { values: opts } = parseArgs({
  options: {
    calls: { type: 'string', default: '200' },
    starts: { type: 'string', default: '10' },
    'ready-only': { type: 'boolean', default: false },  // the page-ready figures alone
  },
});
const CALLS = Number(opts.calls);
const STARTS = Number(opts.starts);
const WARMUP = 20;

function stats(ms) {
  const s = [...ms].sort((a, b) => a - b);
  const at = (q) => s[Math.min(s.length - 1, Math.ceil(q * s.length) - 1)];
  const r = (x) => Math.round(x * 1000) / 1000;
  return { n: s.length, median_ms: r(at(0.5)), p99_ms: r(at(0.99)), max_ms: r(s[s.length - 1]) };
}

// kB of quil's resident set now and at its peak.
function memory(pid) {
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  const kb = (name) => Number(status.match(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm'))[1]);
  return { rss_mb: Math.round(kb('VmRSS') / 102.4) / 10, peak_rss_mb: Math.round(kb('VmHWM') / 102.4) / 10 };
}

async function newPage(browser) {
  const context = await browser.newContext({ viewport: { width: 687, height: 470 }, locale: 'zh-TW' });
  return context.newPage();
}

// The first answer on the page's socket (or over /api/call without one).
function firstAnswer(page) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no call answered')), 30000);
    const done = () => {
      clearTimeout(timer);
      resolve();
    };
    page.on('websocket', (ws) => ws.on('framereceived', done));
    page.on('response', (r) => r.url().endsWith('/api/call') && r.ok() && done());
  });
}

// One start: the page is open before the program starts, so the browser's
// own start stays out of the figure.
async function pageReady(browser, proxy) {
  const page = await newPage(browser);
  const t0 = performance.now();
  const quil = await startQuil({ env: proxy.env });
  const printed = performance.now();
  const answered = firstAnswer(page);
  await page.goto(quil.url, { waitUntil: 'commit' });
  await answered;
  const ms = performance.now() - t0;
  await page.context().close();
  return { ms, started_ms: printed - t0, quil };
}

// The browser's floor: the least any page can take from navigation to one
// answered call on loopback.
function startFloorServer() {
  const page = '<!doctype html><script type="module">fetch("/answer");</script>';
  const server = createServer((req, res) => {
    const answer = req.url === '/answer';
    res.writeHead(200, { 'Content-Type': answer ? 'text/plain' : 'text/html', 'Cache-Control': 'no-store' });
    res.end(answer ? 'ok' : page);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function floorReady(browser, server) {
  const page = await newPage(browser);
  const answered = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the floor page did not fetch')), 30000);
    page.on('response', (r) => r.url().endsWith('/answer') && r.ok() && (clearTimeout(timer), resolve()));
  });
  const t0 = performance.now();
  await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'commit' });
  await answered;
  const ms = performance.now() - t0;
  await page.context().close();
  return ms;
}

// quil's page the same way: the program has just printed its address (its
// start-up check under way, as when its window appears).
async function quilReadyFromNavigation(browser, proxy) {
  const page = await newPage(browser);
  const quil = await startQuil({ env: proxy.env });
  const answered = firstAnswer(page);
  const t0 = performance.now();
  await page.goto(quil.url, { waitUntil: 'commit' });
  await answered;
  const ms = performance.now() - t0;
  // What the customer waits for: the login screen taking input.
  await page.locator('#login-name:enabled').waitFor({ timeout: 30000 });
  const loginMs = performance.now() - t0;
  await page.context().close();
  await quil.stop();
  return { ms, loginMs };
}

// The page's own calls (bridge.js), as its screens make them.
async function roundTripsFromPage(page, calls) {
  return page.evaluate(async ([n, warm]) => {
    const bridge = await import('/js/bridge.js');
    for (let i = 0; i < warm; i++) await bridge.call('getClientVersion');
    const times = [];
    for (let i = 0; i < n; i++) {
      const t = performance.now();
      await bridge.call('getClientVersion');
      times.push(performance.now() - t);
    }
    return times;
  }, [calls, WARMUP]);
}

// The same calls in a browser that nothing instruments: Playwright's network
// events cost each message a few tenths of a millisecond. Chromium is driven
// over its DevTools pipe with nothing but Runtime.evaluate.
async function roundTripsWithoutPlaywright(quil, calls) {
  const profile = mkdtempSync(join(tmpdir(), 'quil-bench-chromium-'));
  const chromium = spawn('/usr/bin/chromium', [
    '--headless=new', '--no-sandbox', '--remote-debugging-pipe', `--user-data-dir=${profile}`,
    '--disable-background-networking', '--disable-component-update', '--no-first-run', '--disable-sync',
    '--disable-quic', 'about:blank'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
  let lastId = 0;
  let received = '';
  const pending = new Map();
  chromium.stdio[4].on('data', (d) => {
    received += d;
    for (let end; (end = received.indexOf('\0')) >= 0; received = received.slice(end + 1)) {
      const message = JSON.parse(received.slice(0, end));
      pending.get(message.id)?.(message);
      pending.delete(message.id);
    }
  });
  const send = (method, params, sessionId) => new Promise((resolve) => {
    const id = ++lastId;
    pending.set(id, resolve);
    chromium.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  });
  const evaluate = async (session, expression) =>
    (await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true }, session)).result?.result?.value;
  try {
    const target = await send('Target.createTarget', { url: quil.url });
    const session = (await send('Target.attachToTarget', { targetId: target.result.targetId, flatten: true }))
      .result.sessionId;
    for (let i = 0; i < 100 && !(await evaluate(session, "document.body?.innerText.includes('Version:1.9')")); i++)
      await new Promise((r) => setTimeout(r, 100));
    return await evaluate(session, `(async () => {
      const bridge = await import('/js/bridge.js');
      for (let i = 0; i < ${WARMUP}; i++) await bridge.call('getClientVersion');
      const times = [];
      for (let i = 0; i < ${calls}; i++) {
        const t = performance.now();
        await bridge.call('getClientVersion');
        times.push(performance.now() - t);
      }
      return times;
    })()`);
  } finally {
    const exited = new Promise((r) => (chromium.exitCode === null ? chromium.on('exit', r) : r()));
    // Its helper processes outlive it for a moment and write the profile
    // meanwhile: the profile goes once they have gone too.
    const helpers = descendantsOf(chromium.pid);
    await Promise.race([send('Browser.close', {}), new Promise((r) => setTimeout(r, 5000))]);
    if (chromium.exitCode === null) chromium.kill();
    await exited;
    await processesGone(helpers);
    await removeScratch(profile);
  }
}

async function roundTripsPlain(quil, calls) {
  const agent = new Agent({ keepAlive: true, maxSockets: 1 });
  const body = JSON.stringify({ method: 'getClientVersion', args: [] });
  const one = () => new Promise((resolve, reject) => {
    const req = request(quil.origin + '/api/call', {
      method: 'POST', agent,
      headers: { 'Content-Type': 'application/json', 'X-QUIL-Token': quil.token, 'Content-Length': body.length },
    }, (res) => {
      res.resume();
      res.on('end', () => (res.statusCode === 200 ? resolve() : reject(new Error(`HTTP ${res.statusCode}`))));
    });
    req.on('error', reject);
    req.end(body);
  });
  for (let i = 0; i < WARMUP; i++) await one();
  const times = [];
  for (let i = 0; i < calls; i++) {
    const t = process.hrtime.bigint();
    await one();
    times.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  agent.destroy();
  return times;
}

// The application of the browser tests' first case, from the login screen
// to the saved file.
async function application(page, proxy, home) {
  const c = await newCustomer(proxy, { isApplyPwBag: 'A', sheetCodes: ['ZX12CV'] });
  await loginToAgreement(page, c);
  await acceptAgreement(page);
  await submitSave(page, join(home, `${c.idno}.P12`), 'pfx12345');
  await expectMessage(page, '憑證儲存完成！');
  await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
  await page.locator('#screen-overview').waitFor();
}

const proxy = await startDevProxy();
const quil = await startQuil({ env: proxy.env });
const result = {};
let browser;
try {
  if (!opts['ready-only']) {
    // Before the browser starts, so that nothing else runs in this process.
    result.bridge_plain_http = stats(await roundTripsPlain(quil, CALLS));
    const python = spawnSync('python3', [join(import.meta.dirname, 'plain_client.py'), quil.url, String(CALLS)],
      { encoding: 'utf8' });
    if (python.status !== 0) throw new Error(`plain_client.py: ${python.stderr}`);
    result.bridge_plain_http_python = stats(JSON.parse(python.stdout));
  }
  browser = await launchBrowser();
  const starts = [];
  const printed = [];
  for (let i = 0; i < STARTS; i++) {
    const { ms, started_ms: startedMs, quil: started } = await pageReady(browser, proxy);
    starts.push(ms);
    printed.push(startedMs);
    await started.stop();
  }
  result.page_ready = stats(starts);
  // Of which: from starting the program to its printed page address.
  result.page_ready_program_start = stats(printed);

  const floorServer = await startFloorServer();
  const floor = [];
  const fromNavigation = [];
  const loginFromNavigation = [];
  for (let i = 0; i < STARTS; i++) {
    floor.push(await floorReady(browser, floorServer));
    const quilStart = await quilReadyFromNavigation(browser, proxy);
    fromNavigation.push(quilStart.ms);
    loginFromNavigation.push(quilStart.loginMs);
  }
  floorServer.close();
  result.page_ready_from_navigation = stats(fromNavigation);
  result.login_ready_from_navigation = stats(loginFromNavigation);
  result.page_ready_floor = stats(floor);
  result.page_ready_over_floor =
    Math.round((result.page_ready_from_navigation.median_ms / result.page_ready_floor.median_ms) * 100) / 100;

  if (!opts['ready-only']) {
    const page = await newPage(browser);
    await page.goto(quil.url);
    await page.getByText('Version:1.9').waitFor();
    result.bridge_from_page = stats(await roundTripsFromPage(page, CALLS));
    result.bridge_from_page_without_playwright = stats(await roundTripsWithoutPlaywright(quil, CALLS));
    result.memory_idle = memory(quil.child.pid);
    await application(page, proxy, quil.home);
    result.memory_after_application = memory(quil.child.pid);
  }
} finally {
  await quil.stop();
  await browser?.close();
  await proxy.stop();
}
console.log(JSON.stringify(result, null, 2));
