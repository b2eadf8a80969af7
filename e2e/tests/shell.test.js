// The page, its chooser and the window's lifetime, in a real browser.
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { browserAndProxy } from '../lib/suite.js';
import { childrenOf, endProcess, freePort, pidListeningOn, processGone, waitForListener } from '../lib/processes.js';
import { callApi, callInPage, makeHome, openPage, screenshot, startQuil as startQuilBare } from '../lib/quil.js';

const suite = browserAndProxy();
const startQuil = (options = {}) => startQuilBare({ env: suite.proxy.env, ...options });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

describe('main page', () => {
  test('shows the client version below the login area and the about box', async () => {
    const quil = await startQuil();
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      assert.equal(new URL(page.url()).search, '', 'token left the address bar');
      await screenshot(page, 'main');
      await page.getByRole('button', { name: '關於 QUIL' }).click();
      await page.getByText('QUIL, 1.0 版').waitFor();
      await screenshot(page, 'about');
      await page.getByRole('button', { name: '確定' }).click();
      assert.equal(await page.getByText('QUIL, 1.0 版').count(), 0);
    } finally {
      await quil.stop();
    }
  });

  test('Escape and Enter leave the window open', async () => {
    const quil = await startQuil();
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      await page.keyboard.press('Escape');
      await page.keyboard.press('Enter');
      const reply = await callInPage(page, 'getClientVersion');
      assert.match(reply, /'clientVersion':'1.9'/);
      assert.equal(quil.child.exitCode, null);
    } finally {
      await quil.stop();
    }
  });
});

describe('announcement', () => {
  // The operator's link opens in a window of its own, but only a web address.
  const links = [
    ['a script address', 'javascript:document.title="opened"', false],
    ['a local file', 'file:///etc/hostname', false],
    ['a relative address', '/api/events', false],
    ['a web address', 'http://127.0.0.1:9/notice.html', true],
  ];
  test('opens only http and https addresses', async () => {
    const quil = await startQuil();
    const context = await suite.browser.newContext({ viewport: { width: 687, height: 470 } });
    try {
      const page = await context.newPage();
      const opened = [];
      context.on('page', (p) => opened.push(p));
      for (const [name, link, opens] of links) {
        await suite.proxy.admin('POST', 'version', { isShowReportLink: 'true', generalReportLink: link });
        opened.length = 0;
        await page.goto(quil.url);
        await page.locator('#btn-login:not([disabled])').waitFor();
        for (let i = 0; opens && opened.length === 0 && i < 50; i++) await new Promise((r) => setTimeout(r, 100));
        await callInPage(page, 'getClientVersion');
        assert.equal(opened.length, opens ? 1 : 0, name);
        assert.equal(await page.title(), 'QUIL 憑證管理工具', name);
        for (const p of opened) await p.close();
      }
    } finally {
      await suite.proxy.admin('POST', 'version', {});
      await context.close();
      await quil.stop();
    }
  });
});

describe('file chooser', () => {
  test('openFileChooser2 picks a file through the page; cancel leaves the path empty', async () => {
    const quil = await startQuil();
    try {
      const folder = join(quil.home, 'certs');
      mkdirSync(folder);
      writeFileSync(join(folder, 'A123456789.p12'), 'x');
      writeFileSync(join(folder, 'notes.txt'), 'x');
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();

      const picked = callInPage(page, 'openFileChooser2');
      const chooser = page.locator('[data-chooser=file]');
      await chooser.waitFor();
      await chooser.getByRole('textbox', { name: '位置' }).fill(folder);
      await chooser.getByRole('textbox', { name: '位置' }).press('Enter');
      // The first filter, *.P12, finds the lower-case .p12 and hides the rest.
      await chooser.getByRole('option', { name: 'A123456789.p12' }).click();
      assert.equal(await chooser.getByRole('option', { name: 'notes.txt' }).count(), 0);
      await screenshot(page, 'file-chooser');
      await chooser.getByRole('button', { name: '開啟' }).click();
      assert.equal(await picked,
        `{'errCode':'1','errMsg':'','path':'${join(folder, 'A123456789.p12')}'}`);

      const cancelled = callInPage(page, 'openFileChooser2');
      await page.locator('[data-chooser=file]').getByRole('button', { name: '取消' }).click();
      assert.equal(await cancelled, "{'errCode':'1','errMsg':'','path':''}");
    } finally {
      await quil.stop();
    }
  });

  test('openFileChooser answers the folder with a trailing separator', async () => {
    const quil = await startQuil();
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      const picked = callInPage(page, 'openFileChooser');
      const chooser = page.locator('[data-chooser=folder]');
      await chooser.getByRole('button', { name: '選擇資料夾' }).click();
      assert.equal(await picked, `{'errCode':'1','errMsg':'','path':'${quil.home}/'}`);
    } finally {
      await quil.stop();
    }
  });
});

describe('lifetime', () => {
  test('closeApp ends the process and later calls run nothing', async () => {
    const quil = await startQuil();
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      await callInPage(page, 'closeApp');
      const { code } = await quil.exited;
      assert.equal(code, 0);
      await assert.rejects(callInPage(page, 'getClientVersion'));
    } finally {
      await quil.stop();
    }
  });

  test('the program ends a few seconds after its window is closed', async () => {
    const quil = await startQuil();
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      await page.context().close();
      const { code } = await quil.exited;
      assert.equal(code, 0);
    } finally {
      await quil.stop();
    }
  });
});

describe('the window', () => {
  // Every local user can read a program's command line: the browser starts
  // from a file only this user can read, which quil removes once the page is up.
  test('the browser starts from a private page and never sees the token in its arguments', async () => {
    const home = makeHome();
    const bin = join(home, 'bin');
    const seen = join(home, 'seen');
    mkdirSync(bin, { recursive: true });
    mkdirSync(seen);
    // A "chromium" that notes how it was started, then runs the real one without a display.
    writeFileSync(join(bin, 'chromium'), [
      '#!/bin/sh',
      `echo $$ > ${seen}/pid`,
      `for a in "$@"; do case "$a" in --app=file://*) f="\${a#--app=file://}"; stat -c %a "$f" > ${seen}/mode; cp "$f" ${seen}/page;; esac; done`,
      `printf '%s\\n' "$@" > ${seen}/args.tmp && mv ${seen}/args.tmp ${seen}/args`,
      'exec /usr/bin/chromium --headless=new --no-sandbox --disable-gpu --disable-quic --disable-component-update "$@"',
    ].join('\n') + '\n', { mode: 0o755 });
    const quil = await startQuilBare({
      home, window: true, env: { ...suite.proxy.env, PATH: `${bin}:${process.env.PATH}`, DISPLAY: ':0' },
    });
    let browser = null;
    try {
      assert.ok(quil.token, 'the first line still gives the address with its token');
      for (const until = Date.now() + 20000; !existsSync(join(seen, 'args')) && Date.now() < until;) await sleep(50);
      browser = Number(readFileSync(join(seen, 'pid'), 'utf8'));
      const args = readFileSync(join(seen, 'args'), 'utf8');
      assert.ok(!args.includes(quil.token), 'the token is in the browser\'s arguments');
      assert.ok(!readFileSync(`/proc/${quil.child.pid}/cmdline`, 'utf8').includes(quil.token));
      const launch = args.split('\n').find((a) => a.startsWith('--app=file://'));
      assert.ok(launch, 'the browser starts from a local file');
      assert.equal(readFileSync(join(seen, 'mode'), 'utf8').trim(), '600');
      assert.ok(readFileSync(join(seen, 'page'), 'utf8').includes(quil.url));
      const file = decodeURIComponent(launch.slice('--app=file://'.length));
      for (const until = Date.now() + 30000; existsSync(file) && Date.now() < until;) await sleep(100);
      assert.ok(!existsSync(file), 'the file is removed once the page is up');
    } finally {
      if (browser && !processGone(browser)) await endProcess(browser);
      await quil.stop();
    }
  });
});

describe('signals and restart', () => {
  test('SIGTERM ends the program cleanly', async () => {
    const quil = await startQuil();
    quil.child.kill('SIGTERM');
    const { code } = await quil.exited;
    assert.equal(code, 0);
    await quil.stop();
  });

  test('openApp starts a new copy with the same options, then ends this one', async () => {
    const port = await freePort();
    const quil = await startQuil({ args: ['--port', String(port)] });
    try {
      const started = Date.now();
      const reply = await fetch(quil.origin + '/api/call', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-QUIL-Token': quil.token },
        body: JSON.stringify({ method: 'openApp', args: [] }),
      });
      assert.equal(reply.status, 200);
      assert.ok(Date.now() - started >= 2000, 'the old copy waits 2 s before it ends');
      assert.equal((await quil.exited).code, 0);
      // The new copy takes over the same port once the old one let it go.
      const copy = await waitForListener(port);
      assert.ok(copy && copy !== quil.child.pid, 'a new copy listens on the port');
      assert.equal((await fetch(`http://127.0.0.1:${port}/`)).status, 200);
    } finally {
      const copy = pidListeningOn(port);
      if (copy && copy !== quil.child.pid) await endProcess(copy);
      await quil.stop();
    }
  });
});

describe('demo', () => {
  test('--demo serves against its own demo proxy and stops it on exit', async () => {
    const quil = await startQuilBare({ args: ['--demo'] });
    try {
      const { body } = await callApi(quil, 'versionCheck');
      assert.match(body.value, /^\{'errCode':'0','errMsg':''/);
      const started = childrenOf(quil.child.pid);
      assert.equal(started.length, 1, 'quil runs one demo proxy');
      quil.child.kill('SIGTERM');
      assert.equal((await quil.exited).code, 0);
      assert.ok(processGone(started[0]), 'the demo proxy outlived quil');
    } finally {
      await quil.stop();
    }
  });

  test('the demo proxy ends when quil is killed', async () => {
    const quil = await startQuilBare({ args: ['--demo'] });
    const [proxy] = childrenOf(quil.child.pid);
    try {
      assert.ok(proxy, 'quil runs a demo proxy');
      quil.child.kill('SIGKILL');
      await quil.exited;
      for (const until = Date.now() + 10000; !processGone(proxy) && Date.now() < until;) await sleep(50);
      assert.ok(processGone(proxy), 'the demo proxy outlived quil');
    } finally {
      if (proxy && !processGone(proxy)) await endProcess(proxy);
      await quil.stop();
    }
  });
});
