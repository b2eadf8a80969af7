// QUIL's real app window: Chromium started by quil on a virtual X display
// with QUIL's profile, watched over the DevTools port a wrapper adds. What
// is on the screen is compared with what the page draws, so a browser
// bubble or bar over the page shows up; keys go through the X server, as a
// person types them (the password manager only offers to save typed
// passwords, and only the X keyboard reaches the browser's zoom keys).
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { chromium } from 'playwright-core';
import { startDevProxy } from '../lib/devproxy.js';
import {
  acceptAgreement, answerQuestion, expectMessage, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { endProcess, pidListeningOn, processGone, waitForListener } from '../lib/processes.js';
import { OUT, makeHome, screenshot, startQuil } from '../lib/quil.js';
import { coveredShare, hasXvfb, readPng, startXvfb, writeScreenPng } from '../lib/x_display.js';

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const SCREEN = { width: 1366, height: 768 };

async function until(what, check, timeoutMs = 20000) {
  for (const end = Date.now() + timeoutMs; Date.now() < end; await sleep(100)) {
    const value = await check();
    if (value) return value;
  }
  throw new Error('timed out waiting for ' + what);
}

// The preferences QUIL's profile must hold after a start, by their path in
// Chromium's Preferences file.
const PROFILE_PREFERENCES = [
  ['credentials_enable_service', false],
  ['credentials_enable_autosignin', false],
  ['profile.password_manager_enabled', false],
  ['autofill.profile_enabled', false],
  ['autofill.credit_card_enabled', false],
  ['translate.enabled', false],
  ['signin.allowed', false],
];

const at = (object, path) => path.split('.').reduce((o, k) => (o == null ? undefined : o[k]), object);

describe('the app window', { skip: !hasXvfb && 'needs Xvfb and xdotool' }, () => {
  const s = {};

  before(async () => {
    s.x = await startXvfb(SCREEN);
    s.proxy = await startDevProxy();
    s.home = makeHome();
    s.profile = join(s.home, '.local', 'state', 'quil', 'browser-profile');
    s.seen = join(s.home, 'seen-args');
    s.browserPid = join(s.home, 'browser-pid');
    // quil's "chromium": the real one, with a DevTools port for the test.
    writeFileSync(join(s.home, 'bin', 'chromium'), [
      '#!/bin/sh',
      `echo $$ >> ${s.browserPid}`,
      `printf '%s\\n' "$@" > ${s.seen}`,
      'exec /usr/bin/chromium --remote-debugging-port=0 --disable-gpu --disable-component-update "$@"',
    ].join('\n') + '\n', { mode: 0o755 });
    s.port = 20000 + Math.floor(Math.random() * 20000);
    s.quil = await startQuil({
      home: s.home, window: true, args: ['--port', String(s.port)],
      env: { ...s.proxy.env, DISPLAY: s.x.display, LANG: 'en_US.UTF-8' },
    });
    const devtools = join(s.profile, 'DevToolsActivePort');
    await until('the browser\'s DevTools port',
      () => existsSync(devtools) && readFileSync(devtools, 'utf8').includes('\n'), 60000);
    s.browser = await chromium.connectOverCDP('http://127.0.0.1:' + readFileSync(devtools, 'utf8').split('\n')[0]);
    s.page = await until('the page', () => s.browser.contexts().flatMap((c) => c.pages())
      .find((p) => p.url().startsWith(s.quil.origin)));
    await s.page.getByText('Version:1.9').waitFor({ timeout: 60000 });
    mkdirSync(OUT, { recursive: true });
  });

  after(async () => {
    await s.browser?.close().catch(() => {});
    const copy = s.port && pidListeningOn(s.port);
    if (copy && copy !== s.quil?.child.pid) await endProcess(copy);
    if (existsSync(s.browserPid ?? '')) {
      for (const pid of readFileSync(s.browserPid, 'utf8').split('\n').filter(Boolean).map(Number))
        if (!processGone(pid)) await endProcess(pid);
    }
    await s.quil?.stop();
    await s.proxy?.stop();
    await s.x?.stop();
  });

  // Nothing of the browser's over the page: the screen shows what the page draws.
  async function assertNothingOverPage(moment) {
    s.x.parkPointer();
    await sleep(1500);  // a bubble takes a moment to open
    const geometry = await s.page.evaluate(() => ({
      left: window.screenX, top: window.screenY + window.outerHeight - window.innerHeight,
    }));
    const drawn = readPng(await s.page.screenshot());
    const share = coveredShare(s.x.screen(), drawn, geometry.left, geometry.top);
    // A bubble is mostly white, like much of the page: even its border,
    // text and shadow make more than this.
    if (share > 0.005) {
      await screenshot(s.page, `app-window-${moment}-page`);
      writeScreenPng(s.x.screen(), join(OUT, `app-window-${moment}-screen.png`));
    }
    assert.ok(share <= 0.005, `${moment}: ${(share * 100).toFixed(1)} % of the page is covered on the screen`);
  }

  // Closes the message boxes the page shows, if any.
  async function closeMessageBoxes(page) {
    const ok = page.locator('#modal-layer .message-window button[data-answer=ok]');
    while (await ok.count()) {
      await ok.last().click();
      await sleep(200);
    }
  }

  test('starts with QUIL\'s own profile: no password saving, autofill, translation or sign-in', async () => {
    const prefs = JSON.parse(readFileSync(join(s.profile, 'Default', 'Preferences'), 'utf8'));
    for (const [path, value] of PROFILE_PREFERENCES) assert.equal(at(prefs, path), value, path);
    const args = readFileSync(s.seen, 'utf8').split('\n');
    assert.ok(args.includes('--user-data-dir=' + s.profile));
    // Chromium refuses its sandbox to root only.
    assert.equal(args.includes('--no-sandbox'), process.getuid() === 0);
    assert.equal(await s.page.locator('html').getAttribute('translate'), 'no');
  });

  test('the window fits the page: 687 x 470, bars included, nothing over it', async () => {
    const size = await until('the window to fit the page', () => s.page.evaluate(() => (
      window.innerWidth === 687 && window.innerHeight === 470
        ? { outerWidth: window.outerWidth, outerHeight: window.outerHeight } : null)));
    assert.ok(size.outerWidth <= SCREEN.width && size.outerHeight <= SCREEN.height);
    assert.deepEqual(await s.page.evaluate(() => [document.documentElement.scrollWidth,
      document.documentElement.scrollHeight]), [687, 470], 'the page scrolls at 100 %');
    await assertNothingOverPage('start');
    writeScreenPng(s.x.screen(), join(OUT, 'app-window-100.png'));
  });

  test('no bubble after a typed login, nor after the browser import form', async () => {
    const c = await newCustomer(s.proxy);
    const page = s.page;
    await page.locator('#btn-login:not([disabled])').waitFor();
    await page.locator('#branch').selectOption(c.branch);
    await page.locator('#login-name').focus();
    s.x.type(c.account);
    await page.locator('#password').focus();
    s.x.type(c.password);
    s.x.key('Return');
    await answerQuestion(page, '您要現在線上申請憑證嗎？', true);
    await assertNothingOverPage('login');

    await page.locator('#sheet-code').fill(c.sheetCodes[0]);
    await page.locator('#form-sheetcode button[type=submit]').click();
    await expectMessage(page, '憑證認證碼驗證成功！');
    await acceptAgreement(page);
    const file = join(s.home, 'QUIL', `${c.idno}.P12`);
    await submitSave(page, file, 'pfx12345');
    await expectMessage(page, '憑證儲存完成！');
    await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', true);
    await page.locator('#btn-deploy-import').click();
    await page.locator('#screen-deployfile').waitFor();
    await page.locator('#deploy-pw').focus();
    s.x.type('pfx12345');
    s.x.key('Return');
    const choice = page.locator('[data-dialog=CQUILSelBrowserDlg]');
    await choice.waitFor();
    await choice.getByRole('button', { name: '取消' }).click();
    await choice.waitFor({ state: 'detached' });
    await assertNothingOverPage('import-form');
    await closeMessageBoxes(page);
  });

  test('at 200 % the window grows to the screen and the page scrolls to logout', async () => {
    const page = s.page;
    // Chromium's zoom steps: 110, 125, 150, 175, 200 %.
    for (let i = 0; i < 5; i++) s.x.key('ctrl+plus');
    const zoomed = await until('the window to follow the zoom', () => page.evaluate(() => (
      window.devicePixelRatio === 2 && Math.abs(window.outerWidth - screen.availWidth) <= 1
        ? { outerHeight: window.outerHeight, availHeight: screen.availHeight } : null)));
    assert.ok(Math.abs(zoomed.outerHeight - zoomed.availHeight) <= 1, 'the window is as high as the screen');
    await sleep(3000);  // the zoom's own bubble closes by itself
    writeScreenPng(s.x.screen(), join(OUT, 'app-window-200.png'));
    // Every menu button and the logout button can be reached and used.
    for (const target of ['#menu [data-fn=backup]', '#btn-about', '#btn-login']) {
      const reachable = await page.locator(target).evaluate((node) => {
        node.scrollIntoView({ block: 'center', inline: 'center' });
        const box = node.getBoundingClientRect();
        const inView = box.left >= 0 && box.top >= 0 && box.right <= innerWidth && box.bottom <= innerHeight;
        return inView && node.contains(document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2));
      });
      assert.ok(reachable, `${target} cannot be reached at 200 %`);
    }
    await page.locator('#btn-login').click();
    await answerQuestion(page, '確定要登出並離開 QUIL 憑證管理工具嗎？', true);
    const { code } = await s.quil.exited;
    assert.equal(code, 0, 'logged out and restarted');
    assert.ok(await waitForListener(s.port), 'the restarted copy serves the page');
  });
});
